# Cross-building for 64-bit Windows with Debian's MinGW-w64, POSIX threads
# flavour (std::thread and std::mutex need it), for Qt and for Vexal alike.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VEXAL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXAL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXAL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXAL_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VEXAL_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${VEXAL_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")
# Libraries and headers come from the target's own root and the prefixes
# given (the cross-built Qt, SQLite, GoogleTest); programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VEXAL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
