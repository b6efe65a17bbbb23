# One fuzz target as a CTest test: runs it from its seed corpus for a fixed time and prints its
# figures (executions, executions per second, coverage). New inputs go to a scratch copy of the
# corpus, never into the repository; a crash or a broken property leaves its input in ARTIFACTS.
#
#   cmake -D FUZZER=<executable> -D NAME=<target> -D MAX_LEN=<bytes> -D SECONDS=<default>
#         -D CORPUS=<seed folder> -D DICT=<dictionary or empty> -D WORK=<folder>
#         -D ARTIFACTS=<folder> -P RunFuzzer.cmake
#
# QLT36_FUZZ_SECONDS in the environment overrides SECONDS.
cmake_minimum_required(VERSION 3.25)

foreach(required FUZZER NAME MAX_LEN SECONDS CORPUS WORK ARTIFACTS)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "RunFuzzer.cmake: ${required} is not set")
    endif()
endforeach()

set(seconds "${SECONDS}")
if(DEFINED ENV{QLT36_FUZZ_SECONDS} AND NOT "$ENV{QLT36_FUZZ_SECONDS}" STREQUAL "")
    set(seconds "$ENV{QLT36_FUZZ_SECONDS}")
endif()
if(NOT seconds MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "QLT36_FUZZ_SECONDS must be a whole number of seconds, not '${seconds}'")
endif()

set(corpus "${WORK}/${NAME}/corpus")
set(log "${WORK}/${NAME}/fuzzer.log")
file(REMOVE_RECURSE "${WORK}/${NAME}")
file(MAKE_DIRECTORY "${corpus}" "${ARTIFACTS}")
if(IS_DIRECTORY "${CORPUS}")
    file(GLOB seeds "${CORPUS}/*")
    file(COPY ${seeds} DESTINATION "${corpus}")
endif()
set(dictionary)
if(DICT AND EXISTS "${DICT}")
    set(dictionary "-dict=${DICT}")
endif()
file(GLOB artifacts_before "${ARTIFACTS}/${NAME}-*")

# The outer bound only guards against a fuzzer that hangs outside its own time limit.
math(EXPR bound "${seconds} + 120")
execute_process(
    COMMAND "${FUZZER}" "${corpus}" -max_total_time=${seconds} -max_len=${MAX_LEN} -timeout=25
            -rss_limit_mb=2048 -print_final_stats=1 ${dictionary}
            "-artifact_prefix=${ARTIFACTS}/${NAME}-"
    OUTPUT_FILE "${log}"
    ERROR_FILE "${log}"
    TIMEOUT ${bound}
    RESULT_VARIABLE status)

file(STRINGS "${log}" runs REGEX "^stat::number_of_executed_units:")
file(STRINGS "${log}" rate REGEX "^stat::average_exec_per_sec:")
file(STRINGS "${log}" progress REGEX "^#[0-9]+.* cov: [0-9]+")
list(TRANSFORM runs REPLACE "^[^:]*: *" "")
list(TRANSFORM rate REPLACE "^[^:]*: *" "")
set(cov "?")
set(ft "?")
set(corp "?")
if(progress)
    list(GET progress -1 last)
    string(REGEX REPLACE ".* cov: ([0-9]+).*" "\\1" cov "${last}")
    string(REGEX REPLACE ".* ft: ([0-9]+).*" "\\1" ft "${last}")
    string(REGEX REPLACE ".* corp: ([0-9]+/[0-9]+[a-zA-Z]*).*" "\\1" corp "${last}")
endif()
if(NOT runs)
    set(runs "?")
endif()
if(NOT rate)
    set(rate "?")
endif()

file(GLOB artifacts_after "${ARTIFACTS}/${NAME}-*")
set(new_artifacts ${artifacts_after})
if(artifacts_before)
    list(REMOVE_ITEM new_artifacts ${artifacts_before})
endif()
list(LENGTH new_artifacts crashes)

message("${NAME}: ${runs} executions in ${seconds} s, ${rate} exec/s, cov ${cov}, ft ${ft}, "
        "corpus ${corp}, ${crashes} crashes")

if(NOT status EQUAL 0 OR crashes GREATER 0)
    file(STRINGS "${log}" causes REGEX "property violated|ERROR: |SUMMARY: |runtime error")
    list(SUBLIST causes 0 5 causes)
    list(JOIN causes "\n  " causes)
    set(inputs)
    foreach(artifact IN LISTS new_artifacts)
        string(APPEND inputs "\n  input: ${artifact}")
    endforeach()
    message(FATAL_ERROR "${NAME} FAILED (${status})\n  ${causes}\n  log: ${log}${inputs}")
endif()
