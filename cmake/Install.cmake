# Where an installed tool lives.
#
# The tool and the command-line tool read QL_T36.ini from the folder of their own executable. On
# Linux the install prefix stands for the file-system root, and the layout is the one the Debian
# package has:
#
#   usr/lib/ql-t36/ql-t36, ql-t36-cli, ql-t36-sim   the tool, the command-line tool, the simulator
#   usr/lib/ql-t36/QL_T36.ini                       link to the settings, so the tools find them
#                                                   beside themselves
#   etc/ql-t36/QL_T36.ini                           the settings, where the administrator edits
#                                                   configuration
#   usr/bin/ql-t36, ql-t36-cli, ql-t36-sim          launchers: links to the executables
#   usr/share/man/man1/*.1.gz                       the manual pages (docs/man)
#   usr/share/bash-completion/completions/ql-t36-cli
#   usr/share/doc/ql-t36/copyright, changelog.gz
#   usr/share/applications/ql-t36.desktop           the menu entry
#   usr/share/icons/hicolor/*/apps/ql-t36.*         the icon, every size menus and docks ask for
#
# `cmake --install <build>` (as root) therefore installs what the package installs, and
# `cmake --install <build> --prefix /tmp/x` stages the same tree under /tmp/x; there the
# settings link still leads to the real /etc.
# On Windows the prefix is the tool's folder: ql-t36.exe, ql-t36-cli.exe, the simulator,
# QL_T36.ini and the DLLs side by side (cmake/Windows.cmake).

set(QLT36_SIMULATOR_TARGET ql-t36-sim)
set(QLT36_CLI_TARGET ql-t36-cli)

if(UNIX AND NOT APPLE)
    if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
        set(CMAKE_INSTALL_PREFIX "/" CACHE PATH
            "Root of the installed tree (usr/lib/ql-t36, usr/bin, usr/share, etc below it)" FORCE)
    endif()

    set(QLT36_INSTALL_APPDIR "usr/lib/ql-t36")
    set(QLT36_INSTALL_CONFDIR "etc/ql-t36")
    set(QLT36_INSTALL_BINDIR "usr/bin")
    set(QLT36_INSTALL_DATADIR "usr/share")
    set(QLT36_INSTALL_DOCDIR "usr/share/doc/ql-t36")
    set(program_targets ql-t36)
    if(TARGET ${QLT36_CLI_TARGET})
        list(APPEND program_targets ${QLT36_CLI_TARGET})
    endif()
    if(TARGET ${QLT36_SIMULATOR_TARGET})
        list(APPEND program_targets ${QLT36_SIMULATOR_TARGET})
    endif()

    # Qt comes from the system, so an installed executable needs no run path; none may point into
    # the build tree either.
    set_target_properties(${program_targets} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${program_targets} RUNTIME DESTINATION ${QLT36_INSTALL_APPDIR})

    set(link_dir ${CMAKE_CURRENT_BINARY_DIR}/install-links)
    file(MAKE_DIRECTORY ${link_dir})

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/QL_T36.ini
        DESTINATION ${QLT36_INSTALL_CONFDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    # The tools look beside their executable; the link keeps that rule with the file in /etc. It
    # leaves /usr, so it is absolute, as Debian wants links between top-level folders.
    file(CREATE_LINK /${QLT36_INSTALL_CONFDIR}/QL_T36.ini ${link_dir}/QL_T36.ini SYMBOLIC)
    install(FILES ${link_dir}/QL_T36.ini DESTINATION ${QLT36_INSTALL_APPDIR})

    # Launchers on the PATH. They stay inside /usr, so they are relative, as Debian wants such
    # links: a tree unpacked or staged anywhere else starts its own executables. The tool finds
    # its folder from the link's target (/proc/self/exe).
    file(RELATIVE_PATH launcher_to_appdir /${QLT36_INSTALL_BINDIR} /${QLT36_INSTALL_APPDIR})
    foreach(program IN LISTS program_targets)
        get_target_property(program_name ${program} OUTPUT_NAME)
        if(NOT program_name)
            set(program_name ${program})
        endif()
        file(CREATE_LINK ${launcher_to_appdir}/${program_name} ${link_dir}/${program_name}
            SYMBOLIC)
        install(FILES ${link_dir}/${program_name} DESTINATION ${QLT36_INSTALL_BINDIR})
        # A stripped install (the package's) also drops the compiler's identification notes.
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                    --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QLT36_INSTALL_APPDIR}/${program_name}\"
                    COMMAND_ERROR_IS_FATAL ANY)
            endif()")
    endforeach()

    # Manual pages and the changelog, compressed as Debian wants them (-n: no name or time
    # stamp, so the same sources give the same bytes).
    set(compressed_dir ${CMAKE_CURRENT_BINARY_DIR}/compressed)
    set(compressed_files)
    set(manual_pages ql-t36)
    if(TARGET ${QLT36_CLI_TARGET})
        list(APPEND manual_pages ${QLT36_CLI_TARGET})
    endif()
    if(TARGET ${QLT36_SIMULATOR_TARGET})
        list(APPEND manual_pages ${QLT36_SIMULATOR_TARGET})
    endif()
    foreach(page IN LISTS manual_pages)
        list(APPEND compressed_files ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
    endforeach()
    list(APPEND compressed_files ${PROJECT_SOURCE_DIR}/packaging/changelog)
    set(compressed_outputs)
    foreach(source IN LISTS compressed_files)
        get_filename_component(name ${source} NAME)
        set(copy ${compressed_dir}/${name})
        add_custom_command(OUTPUT ${copy}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed_dir}
            COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
            COMMAND gzip -9nf ${copy}
            DEPENDS ${source}
            COMMENT "Compressing ${name}"
            VERBATIM)
        list(APPEND compressed_outputs ${copy}.gz)
    endforeach()
    add_custom_target(qlt36_compressed_docs ALL DEPENDS ${compressed_outputs})
    foreach(page IN LISTS manual_pages)
        install(FILES ${compressed_dir}/${page}.1.gz DESTINATION ${QLT36_INSTALL_DATADIR}/man/man1)
    endforeach()
    install(FILES ${compressed_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${QLT36_INSTALL_DOCDIR})

    if(TARGET ${QLT36_CLI_TARGET})
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/ql-t36-cli
            DESTINATION ${QLT36_INSTALL_DATADIR}/bash-completion/completions)
    endif()

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
    # The portable folder, with the DLLs the programs load: cmake/Windows.cmake.
endif()
