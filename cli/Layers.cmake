# Fails when a file of cli/ includes a folder above its own. Run by CTest as cli_layers:
#   cmake -DCLI_DIR=<cli> -P Layers.cmake
set(layers io run report commands app) # each may include those before it
set(broken "")
foreach(folder IN LISTS layers)
    list(FIND layers ${folder} level)
    file(GLOB files ${CLI_DIR}/${folder}/*.h ${CLI_DIR}/${folder}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${file} includes REGEX "^#include \"[a-z]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" included "${line}")
            list(FIND layers ${included} other)
            if(other GREATER level)
                file(RELATIVE_PATH shown ${CLI_DIR} ${file})
                string(APPEND broken "  ${shown}: ${line}\n")
            endif()
        endforeach()
    endforeach()
endforeach()
if(broken)
    message(FATAL_ERROR "cli/: includes that point up (${layers}, each on those before it):\n"
        "${broken}")
endif()
message(STATUS "cli/: every include points down (${layers})")
