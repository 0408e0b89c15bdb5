# zav-bench-gui-cpu: the user interface thread's and the process's processor time over a whole
# real-time transfer in the demo, offscreen.
if(TARGET zav_app_qt AND TARGET zav_demo_device)
    zav_executable(zav-bench-gui-cpu AppGuiCpuBench.cpp)
    target_link_libraries(zav-bench-gui-cpu PRIVATE zav_app_qt zav_demo_device benchmark::benchmark)
endif()
