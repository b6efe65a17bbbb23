# Where an installed tool lives.
#
# The tool and the command-line tool read QL_T36.ini from the folder of their own executable, so
# they install as one self-contained folder holding both executables, the simulator and the
# settings file. On Linux the install prefix stands for the file-system root, and the layout is
# the one the Debian package has:
#
#   opt/ql-t36/ql-t36, ql-t36-cli, ql-t36-sim,      the tool, the command-line tool, the
#              QL_T36.ini                           simulator, the settings
#   usr/bin/ql-t36, ql-t36-cli, ql-t36-sim          launchers: links to the executables
#   usr/share/applications/ql-t36.desktop           the menu entry
#   usr/share/icons/hicolor/*/apps/ql-t36.*         the icon, every size menus and docks ask for
#
# `cmake --install <build>` (as root) therefore installs what the package installs, and
# `cmake --install <build> --prefix /tmp/x` stages the same tree under /tmp/x.
# On Windows the prefix is the tool's folder: ql-t36.exe, ql-t36-cli.exe, the simulator and
# QL_T36.ini side by side; the Qt libraries are added to it with Qt's deployment tool (see the
# README).

set(QLT36_SIMULATOR_TARGET ql-t36-sim)
set(QLT36_CLI_TARGET ql-t36-cli)

if(UNIX AND NOT APPLE)
    if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
        set(CMAKE_INSTALL_PREFIX "/" CACHE PATH
            "Root of the installed tree (opt/ql-t36, usr/bin, usr/share below it)" FORCE)
    endif()

    set(QLT36_INSTALL_APPDIR "opt/ql-t36")
    set(QLT36_INSTALL_BINDIR "usr/bin")
    set(QLT36_INSTALL_DATADIR "usr/share")
    set(program_targets ql-t36)
    if(TARGET ${QLT36_CLI_TARGET})
        list(APPEND program_targets ${QLT36_CLI_TARGET})
    endif()
    if(TARGET ${QLT36_SIMULATOR_TARGET})
        list(APPEND program_targets ${QLT36_SIMULATOR_TARGET})
    endif()

    # Qt comes from the system, so an installed executable needs no run path; none may point into
    # the build tree or to a folder beside /opt/ql-t36 either.
    set_target_properties(${program_targets} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${program_targets} RUNTIME DESTINATION ${QLT36_INSTALL_APPDIR})

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/QL_T36.ini
        DESTINATION ${QLT36_INSTALL_APPDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

    # Launchers on the PATH. The links are relative, so a tree unpacked or staged anywhere else
    # starts its own executables (and reads its own settings file), never those under the real
    # /opt; the tool finds its folder from the link's target.
    file(RELATIVE_PATH launcher_to_appdir
        /${QLT36_INSTALL_BINDIR} /${QLT36_INSTALL_APPDIR})
    set(launcher_dir ${CMAKE_CURRENT_BINARY_DIR}/launchers)
    file(MAKE_DIRECTORY ${launcher_dir})
    foreach(program IN LISTS program_targets)
        get_target_property(program_name ${program} OUTPUT_NAME)
        if(NOT program_name)
            set(program_name ${program})
        endif()
        file(CREATE_LINK ${launcher_to_appdir}/${program_name} ${launcher_dir}/${program_name}
            SYMBOLIC)
        install(FILES ${launcher_dir}/${program_name} DESTINATION ${QLT36_INSTALL_BINDIR})
    endforeach()

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/ql-t36.desktop
        DESTINATION ${QLT36_INSTALL_DATADIR}/applications)
    foreach(size IN ITEMS 16 32 48 64 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/ql-t36-${size}.png
            DESTINATION ${QLT36_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ql-t36.png)
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/ql-t36.svg
        DESTINATION ${QLT36_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
elseif(WIN32)
    install(TARGETS ql-t36 RUNTIME DESTINATION .)
    if(TARGET ${QLT36_CLI_TARGET})
        install(TARGETS ${QLT36_CLI_TARGET} RUNTIME DESTINATION .)
    endif()
    if(TARGET ${QLT36_SIMULATOR_TARGET})
        install(TARGETS ${QLT36_SIMULATOR_TARGET} RUNTIME DESTINATION .)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/QL_T36.ini DESTINATION .)
endif()
