# Cross-building for 64-bit Windows with Debian's MinGW-w64 against a Qt 6 built for it (the
# preset "windows"). The Qt tree is the folder that QLT36_QT_WINDOWS names or, without it,
# build/qt6-mingw, unpacked on first use from the archive in ../shared/windows. Its own toolchain
# file brings the compiler, the host tools (moc, uic, rcc from the host Qt) and the search paths.
# Test programs run under Wine (scripts/wine-run.sh), so CTest runs the suites of this build too.

get_filename_component(_qlt36_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

if(DEFINED ENV{QLT36_QT_WINDOWS} AND NOT "$ENV{QLT36_QT_WINDOWS}" STREQUAL "")
    file(TO_CMAKE_PATH "$ENV{QLT36_QT_WINDOWS}" QLT36_QT_WINDOWS)
    get_filename_component(QLT36_QT_WINDOWS "${QLT36_QT_WINDOWS}" ABSOLUTE)
else()
    set(QLT36_QT_WINDOWS "${_qlt36_source_dir}/build/qt6-mingw")
    if(NOT EXISTS "${QLT36_QT_WINDOWS}/lib/cmake/Qt6/qt.toolchain.cmake")
        file(GLOB _qlt36_qt_archives "${_qlt36_source_dir}/../shared/windows/qt6-mingw-*.tar.xz")
        if(NOT _qlt36_qt_archives)
            message(FATAL_ERROR "No Qt for Windows: set QLT36_QT_WINDOWS to its folder, or put "
                                "qt6-mingw-<version>.tar.xz into ../shared/windows")
        endif()
        list(GET _qlt36_qt_archives -1 _qlt36_qt_archive)
        message(STATUS "Unpacking ${_qlt36_qt_archive} into build/")
        file(MAKE_DIRECTORY "${_qlt36_source_dir}/build")
        file(ARCHIVE_EXTRACT INPUT "${_qlt36_qt_archive}" DESTINATION "${_qlt36_source_dir}/build")
    endif()
endif()

set(_qlt36_qt_toolchain "${QLT36_QT_WINDOWS}/lib/cmake/Qt6/qt.toolchain.cmake")
if(NOT EXISTS "${_qlt36_qt_toolchain}")
    message(FATAL_ERROR "${QLT36_QT_WINDOWS} holds no Qt for Windows (${_qlt36_qt_toolchain})")
endif()
# try_compile projects include this file again; they must find the same tree.
set(ENV{QLT36_QT_WINDOWS} "${QLT36_QT_WINDOWS}")
include("${_qlt36_qt_toolchain}")

set(CMAKE_CROSSCOMPILING_EMULATOR "${_qlt36_source_dir}/scripts/wine-run.sh")
