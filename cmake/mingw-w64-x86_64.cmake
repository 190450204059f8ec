# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads,
# which std::thread and JUCE's threading need).
#
# QVR_MINGW_PREFIX names the folder with our own static libpng and libjpeg
# (scripts/build-windows-deps.sh prints it); it is searched beside the sysroot.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVR_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QVR_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QVR_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

if(NOT QVR_MINGW_PREFIX AND DEFINED ENV{QVR_MINGW_PREFIX})
    set(QVR_MINGW_PREFIX "$ENV{QVR_MINGW_PREFIX}")
endif()
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QVR_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${QVR_MINGW_TRIPLE})
if(QVR_MINGW_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH "${QVR_MINGW_PREFIX}")
endif()

# Programs run on the build machine (juceaide among them); libraries and
# headers only ever from the Windows side.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The JUCE package config is a host file: let find_package reach it anyway.
if(NOT JUCE_DIR)
    set(JUCE_DIR /usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 CACHE PATH "")
endif()

# Cross-built tests run through Wine.
find_program(QVR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QVR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QVR_WINE})
endif()
