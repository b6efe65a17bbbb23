# The tool on Windows: version resources, the portable folder and its ZIP, the ZIP's smoke test.
#
# The tool and the command-line tool read QL_T36.ini from the folder of their own executable, so
# on Windows they ship as one folder that the engineer unzips wherever they may write (never under
# Program Files, where they could not edit the settings):
#
#   ql-t36-<version>-win64/ql-t36.exe, ql-t36-cli.exe, ql-t36-sim.exe
#                          QL_T36.ini, README.txt                   (CR LF line ends)
#                          Qt6*.dll, the MinGW runtime DLLs          (what the programs load)
#                          platforms/qwindows.dll, styles/qwindowsvistastyle.dll
#
#   cmake --workflow --preset windows      cross-build, suites and smoke test under Wine, the ZIP

# Qt6_DIR is <Qt>/lib/cmake/Qt6.
get_filename_component(qlt36_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)

# Windows headers without their min and max macros; the core calls the system's profile lookup
# and upper-casing (kernel32, user32).
target_compile_definitions(qlt36_common_cfg INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN)
target_link_libraries(qlt36_core PRIVATE kernel32 user32)

set(qlt36_windows_programs)
function(qlt36_windows_program target description)
    if(NOT TARGET ${target})
        return()
    endif()
    set(QLT36_RC_NAME ${target})
    set(QLT36_RC_DESCRIPTION "${description}")
    set(QLT36_RC_ICON "${PROJECT_SOURCE_DIR}/resources/icons/ql-t36.ico")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/windows/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/resources/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set(qlt36_windows_programs ${qlt36_windows_programs} ${target} PARENT_SCOPE)
endfunction()

qlt36_windows_program(ql-t36 "QL-T36 maintenance tool")
qlt36_windows_program(${QLT36_CLI_TARGET} "QL-T36 maintenance tool for the command line")
qlt36_windows_program(${QLT36_SIMULATOR_TARGET} "QL-T36 device simulator")

install(TARGETS ${qlt36_windows_programs} RUNTIME DESTINATION .)

# Notepad of older Windows shows a file with LF line ends as one line.
configure_file(${PROJECT_SOURCE_DIR}/packaging/QL_T36.ini
    ${CMAKE_CURRENT_BINARY_DIR}/windows/QL_T36.ini @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
    ${CMAKE_CURRENT_BINARY_DIR}/windows/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES
    ${CMAKE_CURRENT_BINARY_DIR}/windows/QL_T36.ini
    ${CMAKE_CURRENT_BINARY_DIR}/windows/README.txt
    DESTINATION .)

# Qt finds its plugins in these folders beside the executable.
install(FILES ${qlt36_qt_prefix}/plugins/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${qlt36_qt_prefix}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)

# The DLLs themselves: whatever the programs and plugins load, found in the Qt tree or beside the
# compiler. (With MSVC, Qt's windeployqt does this instead; see the README.)
if(MINGW AND CMAKE_OBJDUMP)
set(deploy_search ${qlt36_qt_prefix}/bin)
foreach(runtime IN ITEMS libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
        OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${runtime_path}")
        get_filename_component(runtime_dir "${runtime_path}" DIRECTORY)
        list(APPEND deploy_search ${runtime_dir})
    endif()
endforeach()
list(APPEND deploy_search ${CMAKE_FIND_ROOT_PATH})
install(CODE "
    set(QLT36_DEPLOY_OBJDUMP [[${CMAKE_OBJDUMP}]])
    set(QLT36_DEPLOY_STRIP [[${CMAKE_STRIP}]])
    set(QLT36_DEPLOY_SEARCH [[${deploy_search}]])
    include([[${CMAKE_CURRENT_LIST_DIR}/WindowsDeploy.cmake]])
")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_VERBATIM_VARIABLES YES)
set(CPACK_PACKAGE_NAME ql-t36)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# One folder inside the ZIP, named like the ZIP.
set(CPACK_PACKAGE_FILE_NAME ql-t36-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

if(QLT36_BUILD_TESTS)
    # The command-line tool flashes into the Linux simulator, from the Linux build.
    set(QLT36_LINUX_SIMULATOR "${PROJECT_SOURCE_DIR}/build/dev/sim/ql-t36-sim" CACHE FILEPATH
        "The Linux build's ql-t36-sim, for the ZIP's smoke test")
    add_test(NAME zip_smoke
        COMMAND ${PROJECT_SOURCE_DIR}/packaging/windows/smoke-test.sh ${CMAKE_BINARY_DIR}
                ${QLT36_LINUX_SIMULATOR})
    # Shows windows on the one Wine desktop, as the window suites do.
    set_tests_properties(zip_smoke PROPERTIES TIMEOUT 600 RESOURCE_LOCK wine_desktop)
endif()
