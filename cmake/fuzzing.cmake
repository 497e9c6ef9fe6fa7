# ZOR_FUZZ=ON: everything is built for libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer,
# so that the harnesses in fuzz/ see the coverage of the library, the simulator and the tester.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ZOR_FUZZ needs clang (libFuzzer): -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
set(ZOR_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-fsanitize=fuzzer-no-link ${ZOR_SANITIZERS})
add_link_options(-fsanitize=address,undefined)
