# zav-bench-pacing: the update engine in real time, through the virtual bus to an emulated device.
zav_executable(zav-bench-pacing PacingBench.cpp)
target_link_libraries(zav-bench-pacing PRIVATE zav_engine zav_midi_emulated zav_test_image zav_smf)
