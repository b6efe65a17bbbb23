# The Debian package, built by CPack from the install rules in Install.cmake:
#
#   cmake --preset package && cmake --build --preset package && cpack --preset deb
#
# On Windows the package is a ZIP of the tool's folder: cmake/Windows.cmake.

option(QLT36_PACKAGE_TESTS
    "Add the package smoke test (builds and unpacks the .deb; needs dpkg-dev)" OFF)

if(NOT (UNIX AND NOT APPLE))
    return()
endif()

set(QLT36_PACKAGE_MAINTAINER "QL-T36 tool maintainers <ql-t36-tool@example.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
# Values reach CPack's configuration exactly as written here, quotes and backslashes included.
set(CPACK_VERBATIM_VARIABLES YES)
set(CPACK_PACKAGE_NAME ql-t36)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QLT36_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The install rules lay out a whole root (usr/lib/ql-t36, usr/bin, usr/share, etc).
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QLT36_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
QL-T36 network devices are set up over one TCP connection. This tool reads
and sets the device's five network addresses and its MAC address, reads its
firmware version and downloads a new firmware image into it.

The command-line tool ql-t36-cli does the same for one device or a whole
fleet at once, with a JSON report for scripts. The device simulator
ql-t36-sim comes with it, so every task can be tried without hardware. The
file /etc/ql-t36/QL_T36.ini says which device the tools talk to
(192.168.0.1, port 2000 unless changed).]])
# The Qt runtime libraries are found by dpkg-shlibdeps from what the executables link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool's hints are Japanese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-ipafont-gothic)

# The settings file is the engineer's to edit, so upgrades must keep it.
set(conffiles ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
file(WRITE ${conffiles} "/${QLT36_INSTALL_CONFDIR}/QL_T36.ini\n")

# The maintainer scripts move an edited settings file from where the 2.0.0 package kept it
# (/opt/ql-t36) to /etc. debhelper's dh_installdeb writes them from packaging/debian, checking the
# maintscript entries, in a scratch Debian folder of its own.
set(maintscript_sources
    ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36.maintscript
    ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36.postinst)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${maintscript_sources})
set(dh_dir ${CMAKE_CURRENT_BINARY_DIR}/debhelper)
set(maintainer_scripts)
find_program(QLT36_DH_INSTALLDEB dh_installdeb)
if(QLT36_DH_INSTALLDEB)
    file(REMOVE_RECURSE ${dh_dir})
    file(COPY ${maintscript_sources} DESTINATION ${dh_dir}/debian)
    file(WRITE ${dh_dir}/debian/control "Source: ql-t36
Maintainer: ${QLT36_PACKAGE_MAINTAINER}
Build-Depends: debhelper-compat (= 13)

Package: ql-t36
Architecture: any
Description: ${PROJECT_DESCRIPTION}
")
    execute_process(COMMAND ${QLT36_DH_INSTALLDEB} -pql-t36
        WORKING_DIRECTORY ${dh_dir}
        COMMAND_ERROR_IS_FATAL ANY)
    foreach(script IN ITEMS preinst postinst prerm postrm)
        if(EXISTS ${dh_dir}/debian/ql-t36/DEBIAN/${script})
            list(APPEND maintainer_scripts ${dh_dir}/debian/ql-t36/DEBIAN/${script})
        endif()
    endforeach()
elseif(QLT36_PACKAGE_TESTS)
    message(FATAL_ERROR "dh_installdeb is missing (scripts/deps.sh package installs debhelper)")
else()
    message(STATUS "dh_installdeb not found: cpack here would build a package without its "
        "maintainer scripts (scripts/deps.sh package installs debhelper)")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${conffiles} ${maintainer_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build/" "/out/" "/screenshots/")

include(CPack)

# The manual pages against the programs' --help, in the everyday suite too, so that a new option
# or command without its entry in docs/man fails at once. The command-line tool gets an explicit
# loopback device, though --help prints and ends before it would read any.
if(QLT36_BUILD_TESTS)
    if(TARGET ${QLT36_CLI_TARGET})
        add_test(NAME manual_page_cli
            COMMAND ${PROJECT_SOURCE_DIR}/packaging/check-manual.sh
                ${PROJECT_SOURCE_DIR}/docs/man/ql-t36-cli.1
                $<TARGET_FILE:${QLT36_CLI_TARGET}> --device 127.0.0.1 --help)
    endif()
    if(TARGET ${QLT36_SIMULATOR_TARGET})
        add_test(NAME manual_page_sim
            COMMAND ${PROJECT_SOURCE_DIR}/packaging/check-manual.sh
                ${PROJECT_SOURCE_DIR}/docs/man/ql-t36-sim.1
                $<TARGET_FILE:${QLT36_SIMULATOR_TARGET}> --help)
    endif()
endif()

if(QLT36_PACKAGE_TESTS)
    enable_testing()
    set(smoke_arguments ${CMAKE_BINARY_DIR})
    if(TARGET ${QLT36_SIMULATOR_TARGET})
        list(APPEND smoke_arguments --expect-simulator)
    endif()
    add_test(NAME package_smoke
        COMMAND ${PROJECT_SOURCE_DIR}/packaging/smoke-test.sh ${smoke_arguments})
    set_tests_properties(package_smoke PROPERTIES TIMEOUT 300)
endif()
