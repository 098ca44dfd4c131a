# CMake toolchain file: cross-compile for 64-bit Windows with Debian's mingw-w64
# posix-thread-model compilers (std::thread needs them), linking everything static so the
# .exe needs no mingw DLLs.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DVELMORA_WINDOWS_PREFIX="<qt prefix>;<sqlite prefix>;<xlsxwriter prefix>;<libpq prefix>" ...
#
# VELMORA_WINDOWS_PREFIX (cache variable, or environment variable with ';' or ':' between
# folders) lists the Windows prefixes that find_package()/find_library() search: the
# static Qt from scripts/windows/build-qt.sh, SQLite from scripts/windows/build-sqlite.sh,
# libxlsxwriter with its zlib from scripts/windows/build-xlsxwriter.sh and libpq with
# OpenSSL from scripts/windows/build-libpq.sh.
# Left empty, every finished prefix under ${VELMORA_WINDOWS_CACHE:-$HOME/.cache/velmora-windows}
# is used. Qt's host tools (moc, rcc, uic) come from the host Qt: QT_HOST_PATH defaults
# to /usr (Debian's qt6-base-dev and qt6-base-dev-tools, the same Qt version).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_velmora_triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_velmora_triple}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_velmora_triple}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_velmora_triple}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${_velmora_triple}-gcc-ar-posix ${_velmora_triple}-ar)
find_program(CMAKE_RANLIB NAMES ${_velmora_triple}-gcc-ranlib-posix ${_velmora_triple}-ranlib)
find_program(CMAKE_STRIP NAMES ${_velmora_triple}-strip)

# Where the cross-built libraries live.
set(VELMORA_WINDOWS_PREFIX "$ENV{VELMORA_WINDOWS_PREFIX}" CACHE STRING
    "Windows prefixes (static Qt, SQLite, libxlsxwriter, libpq) searched by find_package/find_library")
if(NOT VELMORA_WINDOWS_PREFIX)
    if(DEFINED ENV{VELMORA_WINDOWS_CACHE} AND NOT "$ENV{VELMORA_WINDOWS_CACHE}" STREQUAL "")
        set(_velmora_cache "$ENV{VELMORA_WINDOWS_CACHE}")
    else()
        set(_velmora_cache "$ENV{HOME}/.cache/velmora-windows")
    endif()
    file(GLOB _velmora_stamps "${_velmora_cache}/*/.velmora-complete")
    foreach(_stamp IN LISTS _velmora_stamps)
        get_filename_component(_dir "${_stamp}" DIRECTORY)
        list(APPEND VELMORA_WINDOWS_PREFIX "${_dir}")
    endforeach()
endif()
string(REPLACE ":" ";" VELMORA_WINDOWS_PREFIX "${VELMORA_WINDOWS_PREFIX}")
# The toolchain file is read again for every try_compile: pass the prefixes on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_WINDOWS_PREFIX QT_HOST_PATH)

set(CMAKE_FIND_ROOT_PATH ${VELMORA_WINDOWS_PREFIX} /usr/${_velmora_triple})
set(CMAKE_PREFIX_PATH ${VELMORA_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt 6 cross builds run the host's moc/rcc/uic.
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH "/usr" CACHE PATH "Prefix of the host Qt whose tools are run")
endif()
if(NOT QT_HOST_PATH_CMAKE_DIR AND EXISTS "/usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo")
    set(QT_HOST_PATH_CMAKE_DIR "/usr/lib/x86_64-linux-gnu/cmake" CACHE PATH
        "CMake package folder of the host Qt")
endif()

# No mingw runtime DLLs next to the .exe: libgcc, libstdc++ and winpthread go in static.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
