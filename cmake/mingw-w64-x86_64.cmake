# Cross build for 64-bit Windows with MinGW-w64, the tests run under Wine.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The "-posix" flavour of the compiler is used because the default (win32 threads) one has no
# std::thread or std::mutex. Everything is linked statically, so that the .exe files run
# without MinGW's runtime DLLs beside them (under Wine as on a real Windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMARK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMARK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMARK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMARK_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only, never from the build machine:
# a host libpff or GMime found here would be linked into a Windows program and fail.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMARK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config is asked by the backends' CMakeLists; point it at the sysroot, where Debian
# ships no libpff, gmime or Qt, so that those backends switch themselves off.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${QUILLMARK_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs built here (tests, build-time tools) run through Wine.
find_program(QUILLMARK_WINE wine)
if(QUILLMARK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLMARK_WINE})
endif()
