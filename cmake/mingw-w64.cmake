# Cross build of PALOMA.dll for 64-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-x86-64). Use:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The "posix" flavour of the compiler is used for its std::thread and
# std::mutex; the C and C++ runtimes and winpthread are linked statically,
# so PALOMA.dll and the test programs need no runtime DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PALOMA_MINGW_PREFIX x86_64-w64-mingw32)
find_program(PALOMA_MINGW_CC NAMES ${PALOMA_MINGW_PREFIX}-gcc-posix ${PALOMA_MINGW_PREFIX}-gcc REQUIRED)
find_program(PALOMA_MINGW_CXX NAMES ${PALOMA_MINGW_PREFIX}-g++-posix ${PALOMA_MINGW_PREFIX}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${PALOMA_MINGW_CC})
set(CMAKE_CXX_COMPILER ${PALOMA_MINGW_CXX})
set(CMAKE_RC_COMPILER ${PALOMA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PALOMA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine. Tests are listed when ctest runs (under the
# WINEPREFIX of that run), not at build time.
find_program(PALOMA_WINE NAMES wine wine64)
if(PALOMA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PALOMA_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
