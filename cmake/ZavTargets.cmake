# Warnings for our own targets only: third-party headers come in as system headers.
function(zav_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                 -Wold-style-cast -Wcast-align -Woverloaded-virtual -Werror)
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    endif()
endfunction()

# A library of ours: sources relative to the calling folder, headers reached from the repository root
# (#include "smf/CSMF.h").
function(zav_library name)
    add_library(${name} ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    zav_warnings(${name})
endfunction()

function(zav_executable name)
    add_executable(${name} ${ARGN})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    zav_warnings(${name})
endfunction()

# A GoogleTest program; its cases are registered with CTest one by one. PROPERTIES are added to each
# case's CTest properties (for example RESOURCE_LOCK jack, for cases that start a server of their own).
function(zav_test name)
    cmake_parse_arguments(ZT "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ZT_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ZT_LIBS} zav_test_support GTest::gtest GTest::gmock
                                          GTest::gtest_main)
    zav_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 ${ZT_PROPERTIES})
endfunction()
