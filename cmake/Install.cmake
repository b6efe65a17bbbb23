# Where an installed tool lives.
#
# The tool and the command-line tool read QL_T36.ini from the folder of their own executable. On
# Linux the install prefix stands for the file-system root, and the layout is the one the Debian
# packages have. Each file belongs to one install component, which is one package:
#
#   component tool (package ql-t36): the windows and the simulator
#     usr/lib/ql-t36/ql-t36, ql-t36-sim             the tool, the simulator
#     usr/bin/ql-t36, ql-t36-sim                    launchers: links to the executables
#     usr/share/man/man1/ql-t36.1.gz, ql-t36-sim.1.gz
#     usr/share/applications/ql-t36.desktop         the menu entry
#     usr/share/icons/hicolor/*/apps/ql-t36.*       the icon, every size menus and docks ask for
#   component cli (package ql-t36-cli): the command-line tool, all a site's jump host needs
#     usr/lib/ql-t36/ql-t36-cli, usr/bin/ql-t36-cli
#     etc/ql-t36/QL_T36.ini                         the settings, where the administrator edits
#                                                   configuration
#     usr/lib/ql-t36/QL_T36.ini                     link to the settings, so the tools find them
#                                                   beside themselves
#     usr/lib/tmpfiles.d/ql-t36-cli.conf            the lock folder /run/lock/ql-t36, made at boot
#     usr/share/man/man1/ql-t36-cli.1.gz
#     usr/share/bash-completion/completions/ql-t36-cli
#   component ansible (package ql-t36-ansible): the Ansible collection qlt36.fleet
#     usr/share/ansible/collections/ansible_collections/qlt36/fleet
#     usr/share/lintian/overrides/ql-t36-ansible  the modules' interpreter is Ansible's to choose
#   and for each package: usr/share/doc/PACKAGE/copyright, changelog.gz
#
# The settings belong to the command-line tool's package: both programs read them, and the tool's
# package depends on it (see Packaging.cmake).
#
# `cmake --install <build>` (as root) therefore installs what the packages install, and
# `cmake --install <build> --prefix /tmp/x` stages the same tree under /tmp/x; there the
# settings link still leads to the real /etc. `--component cli` installs one package's part.
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
    set(QLT36_INSTALL_COLLECTIONDIR
        "usr/share/ansible/collections/ansible_collections/qlt36/fleet")
    # The package of each install component.
    set(QLT36_PACKAGE_tool ql-t36)
    set(QLT36_PACKAGE_cli ql-t36-cli)
    set(QLT36_PACKAGE_ansible ql-t36-ansible)
    set(QLT36_COMPONENTS tool cli ansible)
    # Program, component, manual page: one each.
    set(programs ql-t36 tool ${QLT36_SIMULATOR_TARGET} tool ${QLT36_CLI_TARGET} cli)

    set(link_dir ${CMAKE_CURRENT_BINARY_DIR}/install-links)
    file(MAKE_DIRECTORY ${link_dir})
    # Launchers on the PATH. They stay inside /usr, so they are relative, as Debian wants such
    # links: a tree unpacked or staged anywhere else starts its own executables. The tool finds
    # its folder from the link's target (/proc/self/exe).
    file(RELATIVE_PATH launcher_to_appdir /${QLT36_INSTALL_BINDIR} /${QLT36_INSTALL_APPDIR})
    # Manual pages and the changelog, compressed as Debian wants them (-n: no name or time
    # stamp, so the same sources give the same bytes).
    set(compressed_dir ${CMAKE_CURRENT_BINARY_DIR}/compressed)
    set(compressed_outputs)
    function(qlt36_compressed source)
        get_filename_component(name ${source} NAME)
        set(copy ${compressed_dir}/${name})
        add_custom_command(OUTPUT ${copy}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed_dir}
            COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
            COMMAND gzip -9nf ${copy}
            DEPENDS ${source}
            COMMENT "Compressing ${name}"
            VERBATIM)
        set(compressed_outputs ${compressed_outputs} ${copy}.gz PARENT_SCOPE)
    endfunction()

    while(programs)
        list(POP_FRONT programs program component)
        # Qt comes from the system, so an installed executable needs no run path; none may point
        # into the build tree either.
        set_target_properties(${program} PROPERTIES INSTALL_RPATH "")
        install(TARGETS ${program} RUNTIME DESTINATION ${QLT36_INSTALL_APPDIR}
            COMPONENT ${component})
        get_target_property(program_name ${program} OUTPUT_NAME)
        if(NOT program_name)
            set(program_name ${program})
        endif()
        file(CREATE_LINK ${launcher_to_appdir}/${program_name} ${link_dir}/${program_name}
            SYMBOLIC)
        install(FILES ${link_dir}/${program_name} DESTINATION ${QLT36_INSTALL_BINDIR}
            COMPONENT ${component})
        # A stripped install (the package's) also drops the compiler's identification notes.
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                    --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QLT36_INSTALL_APPDIR}/${program_name}\"
                    COMMAND_ERROR_IS_FATAL ANY)
            endif()" COMPONENT ${component})
        qlt36_compressed(${PROJECT_SOURCE_DIR}/docs/man/${program_name}.1)
        install(FILES ${compressed_dir}/${program_name}.1.gz
            DESTINATION ${QLT36_INSTALL_DATADIR}/man/man1 COMPONENT ${component})
    endwhile()

    qlt36_compressed(${PROJECT_SOURCE_DIR}/packaging/changelog)
    add_custom_target(qlt36_compressed_docs ALL DEPENDS ${compressed_outputs})
    foreach(component IN LISTS QLT36_COMPONENTS)
        install(FILES ${compressed_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
            DESTINATION ${QLT36_INSTALL_DATADIR}/doc/${QLT36_PACKAGE_${component}}
            COMPONENT ${component})
    endforeach()

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/QL_T36.ini
        DESTINATION ${QLT36_INSTALL_CONFDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT cli)
    # The tools look beside their executable; the link keeps that rule with the file in /etc. It
    # leaves /usr, so it is absolute, as Debian wants links between top-level folders.
    file(CREATE_LINK /${QLT36_INSTALL_CONFDIR}/QL_T36.ini ${link_dir}/QL_T36.ini SYMBOLIC)
    install(FILES ${link_dir}/QL_T36.ini DESTINATION ${QLT36_INSTALL_APPDIR} COMPONENT cli)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/ql-t36-cli.tmpfiles
        DESTINATION usr/lib/tmpfiles.d RENAME ql-t36-cli.conf COMPONENT cli)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/ql-t36-cli
        DESTINATION ${QLT36_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/ql-t36.desktop
        DESTINATION ${QLT36_INSTALL_DATADIR}/applications COMPONENT tool)
    foreach(size IN ITEMS 16 32 48 64 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/ql-t36-${size}.png
            DESTINATION ${QLT36_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ql-t36.png COMPONENT tool)
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/ql-t36.svg
        DESTINATION ${QLT36_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tool)

    # The collection as Ansible loads it from its default path; its tests stay in the project.
    set(collection ${PROJECT_SOURCE_DIR}/ansible/ansible_collections/qlt36/fleet)
    install(FILES ${collection}/galaxy.yml ${collection}/README.md
        DESTINATION ${QLT36_INSTALL_COLLECTIONDIR} COMPONENT ansible)
    install(DIRECTORY ${collection}/meta ${collection}/plugins ${collection}/playbooks
        DESTINATION ${QLT36_INSTALL_COLLECTIONDIR} COMPONENT ansible
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN __pycache__ EXCLUDE)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/ql-t36-ansible
        DESTINATION ${QLT36_INSTALL_DATADIR}/lintian/overrides COMPONENT ansible)
elseif(WIN32)
    # The portable folder, with the DLLs the programs load: cmake/Windows.cmake.
endif()
