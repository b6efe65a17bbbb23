# One place for warnings and Qt hygiene; every target of the project links it.
add_library(qlt36_common_cfg INTERFACE)

option(QLT36_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

target_compile_definitions(qlt36_common_cfg INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER
    QT_STRICT_ITERATORS
    QT_NO_FOREACH
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(qlt36_common_cfg INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
        -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
        -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
        -Wcast-qual -Wmissing-declarations)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(qlt36_common_cfg INTERFACE
            -Wuseless-cast -Wduplicated-cond -Wlogical-op)
    endif()
    if(QLT36_WERROR)
        target_compile_options(qlt36_common_cfg INTERFACE -Werror)
    endif()
elseif(MSVC)
    target_compile_options(qlt36_common_cfg INTERFACE /W4 /utf-8 /permissive-)
    if(QLT36_WERROR)
        target_compile_options(qlt36_common_cfg INTERFACE /WX)
    endif()
endif()

# The device is on a network the tool does not control: run everything under ASan and UBSan
# (leak checking comes with ASan on Linux). Any undefined behaviour ends the run instead of
# scrolling past in the log.
if(QLT36_SANITIZE)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        message(FATAL_ERROR "QLT36_SANITIZE needs GCC or Clang")
    endif()
    set(qlt36_sanitize_flags
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_compile_options(qlt36_common_cfg INTERFACE ${qlt36_sanitize_flags})
    target_link_options(qlt36_common_cfg INTERFACE ${qlt36_sanitize_flags})
endif()

# Fails the configuration if `target` reaches Qt Gui or Qt Widgets through anything it links,
# directly or not. Checked once the whole project has been read, so later links count too.
function(qlt36_forbid_gui target)
    # A deferred call expands its arguments when it runs: hand it the name itself.
    cmake_language(EVAL CODE
        "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _qlt36_check_no_gui [[${target}]])")
endfunction()

function(_qlt36_check_no_gui target)
    set(seen)
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue item)
        # Generator expressions such as $<LINK_ONLY:Qt6::Gui> still name what they link.
        string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" item "${item}")
        if(item MATCHES "^Qt[0-9]*::(Gui|Widgets|OpenGL|OpenGLWidgets)$")
            message(FATAL_ERROR "${target} must not link Qt Gui or Widgets, but reaches ${item}")
        endif()
        if(NOT TARGET ${item} OR item IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${item})
        get_target_property(imported ${item} IMPORTED)
        get_target_property(interface ${item} INTERFACE_LINK_LIBRARIES)
        if(interface)
            list(APPEND queue ${interface})
        endif()
        if(NOT imported)
            get_target_property(direct ${item} LINK_LIBRARIES)
            if(direct)
                list(APPEND queue ${direct})
            endif()
        endif()
    endwhile()
endfunction()
