# Install-time step of the Windows folder (see Windows.cmake): copies in every DLL that the
# programs and plugins already in the folder load, and the DLLs those load in turn, from the
# folders in QLT36_DEPLOY_SEARCH (the Qt tree's bin, the compiler's runtime). Whatever is found in
# none of them is the system's (KERNEL32.dll, WS2_32.dll, ...) and stays out. A DLL that no
# program loads is never copied.
#
# With stripping asked for (cmake --install --strip, or CPack), the DLLs are stripped as the
# programs are; Qt's and the compiler's come with their symbols.
#
# Expects: QLT36_DEPLOY_OBJDUMP, QLT36_DEPLOY_STRIP, QLT36_DEPLOY_SEARCH (a list of folders).

# An install script starts with no policies of the project.
cmake_policy(VERSION 3.25)

set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB queue "${folder}/*.exe" "${folder}/*/*.dll")
if(NOT queue)
    message(FATAL_ERROR "WindowsDeploy: no programs in ${folder}")
endif()

# Windows file names ignore case; the import tables and the file system may not agree on it.
set(available)
foreach(dir IN LISTS QLT36_DEPLOY_SEARCH)
    file(GLOB dlls "${dir}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" key)
        if(NOT DEFINED "source_${key}")
            set("source_${key}" "${dll}")
        endif()
    endforeach()
endforeach()

function(strip_dll dll)
    if(CMAKE_INSTALL_DO_STRIP AND QLT36_DEPLOY_STRIP)
        execute_process(COMMAND "${QLT36_DEPLOY_STRIP}" --strip-unneeded "${dll}"
            RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "WindowsDeploy: cannot strip ${dll}")
        endif()
    endif()
endfunction()

file(GLOB plugins "${folder}/*/*.dll")
foreach(plugin IN LISTS plugins)
    strip_dll("${plugin}")
endforeach()

set(done)
while(queue)
    list(POP_FRONT queue binary)
    execute_process(COMMAND "${QLT36_DEPLOY_OBJDUMP}" -p "${binary}"
        OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "WindowsDeploy: cannot read the imports of ${binary}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "^DLL Name: " "" name "${import}")
        string(TOLOWER "${name}" key)
        if(key IN_LIST done OR NOT DEFINED "source_${key}")
            continue()
        endif()
        list(APPEND done "${key}")
        file(INSTALL "${source_${key}}" DESTINATION "${CMAKE_INSTALL_PREFIX}")
        get_filename_component(file_name "${source_${key}}" NAME)
        strip_dll("${folder}/${file_name}")
        list(APPEND queue "${folder}/${file_name}")
    endforeach()
endwhile()
