# Cross-compiling the Windows build with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
# The posix thread model is the one whose libstdc++ has std::thread and
# std::mutex; everything is linked statically, so that is never visible at
# run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked: the tool and the library run on a bare Windows with no
# MinGW runtime DLLs (libgcc_s, libstdc++, libwinpthread) beside them; only
# the system's own DLLs (kernel32, advapi32, msvcrt) are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc")
# Test programs run under Wine (tests/wine/run.sh prepares the prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Release images carry no debug sections (the static runtime brings its own).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
