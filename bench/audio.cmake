# Press-to-sound latency of the effect path through the real SDL output (dummy driver).
add_executable(bench_audio ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp)
target_link_libraries(bench_audio PRIVATE ombura_sound)
