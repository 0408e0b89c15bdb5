zav_executable(zav-bench-smf SmfLoadBench.cpp)
target_link_libraries(zav-bench-smf PRIVATE zav_smf zav_test_image benchmark::benchmark)
