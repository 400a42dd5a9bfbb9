# Cross-builds the 32-bit Windows programs with mingw-w64's POSIX-threads
# compilers. The runtime is linked statically, so the programs and modules
# need no DLL beside them. OpenSSL comes from scripts/bootstrap-win32's cache
# (QV_OPENSSL_MINGW overrides where it is).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(DEFINED ENV{QV_OPENSSL_MINGW})
  set(OPENSSL_ROOT_DIR $ENV{QV_OPENSSL_MINGW})
else()
  set(OPENSSL_ROOT_DIR $ENV{HOME}/.cache/quovane/openssl-mingw32)
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${OPENSSL_ROOT_DIR})
set(OPENSSL_USE_STATIC_LIBS TRUE)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
