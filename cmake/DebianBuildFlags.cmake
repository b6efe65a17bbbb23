# Debian's compiler and linker flags for the package build: fortified functions, stack
# protector, RELRO and immediate binding (hardening=+all), the optimisation level Debian
# builds with, and build paths mapped out of the debug information.
#
# Read from dpkg-buildflags when configuring, so they are the ones this Debian release uses;
# DEB_CXXFLAGS_APPEND and its kin are honoured as dpkg-buildflags does. Other builds are left
# alone.

option(QLT36_DEBIAN_BUILDFLAGS "Build with the flags of dpkg-buildflags (the package preset)" OFF)

if(NOT QLT36_DEBIAN_BUILDFLAGS)
    return()
endif()
if(NOT (UNIX AND NOT APPLE))
    message(FATAL_ERROR "QLT36_DEBIAN_BUILDFLAGS is for Debian builds only")
endif()

find_program(QLT36_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT QLT36_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "dpkg-buildflags is missing (scripts/deps.sh package installs dpkg-dev)")
endif()

function(_qlt36_dpkg_buildflag flag out)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${QLT36_DPKG_BUILDFLAGS} --get ${flag}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE value
        OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

_qlt36_dpkg_buildflag(CPPFLAGS deb_cppflags)
_qlt36_dpkg_buildflag(CXXFLAGS deb_cxxflags)
_qlt36_dpkg_buildflag(LDFLAGS deb_ldflags)

string(APPEND CMAKE_CXX_FLAGS " ${deb_cppflags} ${deb_cxxflags}")
foreach(kind IN ITEMS EXE SHARED MODULE)
    string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${deb_ldflags}")
endforeach()
# The optimisation level is Debian's (from CXXFLAGS), not the build type's.
foreach(config IN ITEMS RELEASE RELWITHDEBINFO MINSIZEREL)
    string(REGEX REPLACE "(^| )-O[0-9s]( |$)" " " CMAKE_CXX_FLAGS_${config}
        "${CMAKE_CXX_FLAGS_${config}}")
endforeach()
message(STATUS "Debian build flags: ${deb_cppflags} ${deb_cxxflags}; linker: ${deb_ldflags}")
