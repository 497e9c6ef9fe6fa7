/* Export switch of the COM-ZOR4 library: shared between the C header and the COMPort class. */
#ifndef COM_ZOR4_EXPORT_H
#define COM_ZOR4_EXPORT_H

#if defined(_WIN32)
#  if defined(COM_ZOR4_BUILDING)
#    define COM_ZOR4_API __declspec(dllexport)
#  elif defined(COM_ZOR4_STATIC)
#    define COM_ZOR4_API
#  else
#    define COM_ZOR4_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define COM_ZOR4_API __attribute__((visibility("default")))
#else
#  define COM_ZOR4_API
#endif

#endif
