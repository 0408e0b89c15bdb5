# Fuzzes one target for SECONDS from a scratch copy of its seeds (SEEDS, folders separated by "|"),
# so that the inputs it adds stay in the build tree. Any crash, leak, broken invariant or input that
# takes over 10 seconds fails.
#   cmake -DFUZZER=... -DSCRATCH=... -DSEEDS=a|b -DSECONDS=30 -P RunFuzzer.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/corpus ${SCRATCH}/artifacts)
string(REPLACE "|" ";" seeds "${SEEDS}")
foreach(folder ${seeds})
    if(IS_DIRECTORY ${folder})
        file(GLOB files ${folder}/*)
        if(files)
            file(COPY ${files} DESTINATION ${SCRATCH}/corpus)
        endif()
    endif()
endforeach()
execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -print_final_stats=1
            -artifact_prefix=${SCRATCH}/artifacts/ ${SCRATCH}/corpus
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${SCRATCH}/artifacts")
endif()
