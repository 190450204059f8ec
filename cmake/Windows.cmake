# Windows builds (MinGW-w64 cross-compiles, see cmake/mingw-w64-x86_64.cmake):
# one self-contained .exe that needs nothing but the system's own DLLs.

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
set(PNG_USE_STATIC_LIBS ON)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)

# JUCE's image readers need libpng and libjpeg (Debian's JUCE carries no copy
# of its own); on Linux pkg-config finds them under this name, here we do.
if(NOT TARGET juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    add_library(juce::pkgconfig_JUCE_IMG_LINUX_DEPS INTERFACE IMPORTED)
    set_target_properties(juce::pkgconfig_JUCE_IMG_LINUX_DEPS PROPERTIES
        INTERFACE_LINK_LIBRARIES "PNG::PNG;JPEG::JPEG;ZLIB::ZLIB")
endif()

add_link_options(-static -static-libgcc -static-libstdc++)
# The release .exe goes to users: without symbols it is about half the size.
add_link_options($<$<CONFIG:Release>:-s>)

# Files above 2 GiB must report their size (the update file check and transfer).
add_compile_definitions(_FILE_OFFSET_BITS=64 NOMINMAX)

# The program's own icon, group 101.
set(QVR_WINDOWS_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows/QvrUpdater.rc)
