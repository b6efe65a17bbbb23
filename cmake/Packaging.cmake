# The Debian packages, built by CPack from the install rules in Install.cmake, one package per
# install component:
#
#   cmake --preset package && cmake --build --preset package && cpack --preset deb
#
#   ql-t36          the windows and the simulator; depends on ql-t36-cli of the same version
#   ql-t36-cli      the command-line tool alone (Qt Core and Network): what a jump host installs;
#                   owns the settings file, which both programs read
#   ql-t36-ansible  the Ansible collection qlt36.fleet (architecture all)
#
# Up to 2.0.x one package ql-t36 held everything; Breaks and Replaces let ql-t36-cli take its
# files over on upgrade.
#
# On Windows the package is a ZIP of the tool's folder: cmake/Windows.cmake.

option(QLT36_PACKAGE_TESTS
    "Add the package smoke test (builds and unpacks the .deb files; needs dpkg-dev)" OFF)

if(NOT (UNIX AND NOT APPLE))
    return()
endif()

set(QLT36_PACKAGE_MAINTAINER "QL-T36 tool maintainers <ql-t36-tool@example.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")
# The first version of the three packages; keep it when bumping the version.
set(QLT36_SPLIT_VERSION 2.1.0~)

set(CPACK_GENERATOR DEB)
# Values reach CPack's configuration exactly as written here, quotes and backslashes included.
set(CPACK_VERBATIM_VARIABLES YES)
set(CPACK_PACKAGE_NAME ql-t36)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QLT36_PACKAGE_MAINTAINER}")
# Empty: each package's description below starts with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
# The install rules lay out a whole root (usr/lib/ql-t36, usr/bin, usr/share, etc).
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${QLT36_COMPONENTS})

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QLT36_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
foreach(component IN LISTS QLT36_COMPONENTS)
    string(TOUPPER ${component} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${QLT36_PACKAGE_${component}})
    set(CPACK_DEBIAN_${upper}_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION net)
endforeach()

set(CPACK_DEBIAN_TOOL_DESCRIPTION [[
Maintenance tool for the QL-T36 network device
QL-T36 network devices are set up over one TCP connection. This tool reads
and sets the device's five network addresses and its MAC address, reads its
firmware version and downloads a new firmware image into it, in the windows
the engineers know.

The device simulator ql-t36-sim comes with it, so every task can be tried
without hardware. The command-line tool (package ql-t36-cli) comes along; the
file /etc/ql-t36/QL_T36.ini says which device the tools talk to (192.168.0.1,
port 2000 unless changed).]])
# The Qt runtime libraries are found by dpkg-shlibdeps from what the executables link.
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "ql-t36-cli (= ${PROJECT_VERSION})")
# The tool's hints are Japanese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS fonts-ipafont-gothic)

set(CPACK_DEBIAN_CLI_DESCRIPTION [[
Command-line tool for QL-T36 network devices
ql-t36-cli reads and sets the network addresses and the MAC address of QL-T36
network devices, reads their firmware version and downloads firmware images
into them, for one device or a whole site at once: an inventory, a plan
applied to every device, a roll-out in stages, with a JSON report for
scripts.

It needs Qt Core and Network only, no display: this is what a site's jump
host installs. Runs of every user share one lock per device, in
/run/lock/ql-t36.]])
set(CPACK_DEBIAN_CLI_PACKAGE_SHLIBDEPS ON)
# An empty string: only what dpkg-shlibdeps finds.
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "ql-t36 (<< ${QLT36_SPLIT_VERSION})")
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "ql-t36 (<< ${QLT36_SPLIT_VERSION})")

set(CPACK_DEBIAN_ANSIBLE_DESCRIPTION [[
Ansible collection for QL-T36 network devices
The collection qlt36.fleet drives ql-t36-cli on each site's jump host: one
Ansible host per site, all of its devices in one run of the tool. Its modules
read the devices (info), bring them to planned network addresses (addresses)
and roll firmware out (firmware), with check mode, diff mode and idempotence;
the playbook qlt36.fleet.rollout rolls an image out in waves of sites with a
fleet-wide failure budget.]])
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_DEPENDS "ansible-core (>= 2.14), ql-t36-cli (>= ${PROJECT_VERSION})")

# The settings file is the engineer's to edit, so upgrades must keep it.
set(conffiles ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
file(WRITE ${conffiles} "/${QLT36_INSTALL_CONFDIR}/QL_T36.ini\n")

# The maintainer scripts: ql-t36's move an edited settings file from where the 2.0.0 package kept
# it (/opt/ql-t36) to /etc; ql-t36-cli's make the lock folder. debhelper's dh_installtmpfiles and
# dh_installdeb write them from packaging/debian, checking the maintscript entries, in a scratch
# Debian folder of their own.
set(maintscript_sources
    ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36.maintscript
    ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36.postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36-cli.postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36-cli.tmpfiles)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${maintscript_sources})
set(dh_dir ${CMAKE_CURRENT_BINARY_DIR}/debhelper)
find_program(QLT36_DH_INSTALLDEB dh_installdeb)
find_program(QLT36_DH_INSTALLTMPFILES dh_installtmpfiles)
if(QLT36_DH_INSTALLDEB AND QLT36_DH_INSTALLTMPFILES)
    file(REMOVE_RECURSE ${dh_dir})
    file(COPY ${maintscript_sources} DESTINATION ${dh_dir}/debian)
    file(WRITE ${dh_dir}/debian/control "Source: ql-t36
Maintainer: ${QLT36_PACKAGE_MAINTAINER}
Build-Depends: debhelper-compat (= 13)

Package: ql-t36
Architecture: any
Description: ${PROJECT_DESCRIPTION}

Package: ql-t36-cli
Architecture: any
Description: ${PROJECT_DESCRIPTION}
")
    foreach(tool IN ITEMS ${QLT36_DH_INSTALLTMPFILES} ${QLT36_DH_INSTALLDEB})
        execute_process(COMMAND ${tool} -pql-t36 -pql-t36-cli
            WORKING_DIRECTORY ${dh_dir}
            COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    foreach(package IN ITEMS ql-t36 ql-t36-cli)
        set(scripts_${package})
        foreach(script IN ITEMS preinst postinst prerm postrm)
            if(EXISTS ${dh_dir}/debian/${package}/DEBIAN/${script})
                list(APPEND scripts_${package} ${dh_dir}/debian/${package}/DEBIAN/${script})
            endif()
        endforeach()
    endforeach()
    set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA ${scripts_ql-t36})
    set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${conffiles} ${scripts_ql-t36-cli})
elseif(QLT36_PACKAGE_TESTS)
    message(FATAL_ERROR "dh_installdeb is missing (scripts/deps.sh package installs debhelper)")
else()
    message(STATUS "dh_installdeb not found: cpack here would build packages without their "
        "maintainer scripts (scripts/deps.sh package installs debhelper)")
    set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${conffiles})
endif()

set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build/" "/out/" "/screenshots/")

include(CPack)

# In the everyday suite too: the command-line tool's manual page, README list and bash completion
# are what its definitions make (scripts/make-docs.sh writes them), and the simulator's page,
# written by hand, names the options of its --help. A new command or option fails here until the
# documents have it.
if(QLT36_BUILD_TESTS)
    if(TARGET ${QLT36_CLI_TARGET})
        add_test(NAME docs_cli
            COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-docs.sh --check
                $<TARGET_FILE:${QLT36_CLI_TARGET}>)
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
