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

# What each .exe says about itself: the version resource (Explorer's Details
# tab; the firewall's first-start prompt names the program by its
# FileDescription) and the manifest, packaging/windows/app.manifest. For a
# JUCE app it stands in for the version resource JUCE makes, whose
# description could only be the product name, that is the file name.
#
#     qvr_add_windows_metadata(<target> <FileDescription>)
#
# A second call for the same target changes nothing.
function(qvr_add_windows_metadata target description)
    get_target_property(done ${target} QVR_WINDOWS_METADATA)
    if(done)
        return()
    endif()
    set_target_properties(${target} PROPERTIES QVR_WINDOWS_METADATA ON)

    set(QVR_RC_DESCRIPTION "${description}")
    set(QVR_RC_PRODUCT "QVR Firmware Downloader")
    set(QVR_RC_COMPANY "QVR Updater developers")
    set(QVR_RC_COPYRIGHT "Copyright (C) 2026 QVR Updater developers. Licensed under GPL-3.0.")
    set(QVR_RC_FILE_NAME "$<TARGET_FILE_NAME:${target}>")
    set(QVR_RC_INTERNAL_NAME "$<TARGET_FILE_BASE_NAME:${target}>")
    get_filename_component(windows ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../packaging/windows ABSOLUTE)
    set(QVR_RC_MANIFEST "${windows}/app.manifest")
    set(parts ${CMAKE_PROJECT_VERSION_MAJOR} ${CMAKE_PROJECT_VERSION_MINOR}
        ${CMAKE_PROJECT_VERSION_PATCH} ${CMAKE_PROJECT_VERSION_TWEAK} 0 0 0 0)
    list(SUBLIST parts 0 4 parts)
    list(JOIN parts "," QVR_RC_VERSION)
    set(QVR_RC_VERSION_STRING ${CMAKE_PROJECT_VERSION})

    # @-variables first, then the file names, which only the generator knows.
    set(rc ${CMAKE_BINARY_DIR}/windows-metadata/${target}.rc)
    configure_file(${windows}/metadata.rc.in ${rc}.in @ONLY)
    file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
    target_sources(${target} PRIVATE ${rc})
    set_property(SOURCE ${rc} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${QVR_RC_MANIFEST})

    get_target_property(juce_code ${target} JUCE_GENERATED_SOURCES_DIRECTORY)
    get_target_property(sources ${target} SOURCES)
    if(juce_code AND "${juce_code}/resources.rc" IN_LIST sources)
        set_source_files_properties(${juce_code}/resources.rc TARGET_DIRECTORY ${target}
            PROPERTIES HEADER_FILE_ONLY ON)
    endif()
endfunction()
