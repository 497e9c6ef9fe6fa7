// Load and unload of the shared library: the slots live from the library's load to its unload.
#include "slots.h"

#if defined(_WIN32)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) zor::LoadSlots();
  if (reason == DLL_PROCESS_DETACH) zor::UnloadSlots();
  return TRUE;
}
#else
namespace {
// Built when the library is loaded (dlopen or program start), destroyed at dlclose or exit.
struct LibraryLifetime {
  LibraryLifetime() { zor::LoadSlots(); }
  ~LibraryLifetime() { zor::UnloadSlots(); }
  LibraryLifetime(const LibraryLifetime&) = delete;
  LibraryLifetime& operator=(const LibraryLifetime&) = delete;
};
LibraryLifetime g_lifetime;
}  // namespace
#endif
