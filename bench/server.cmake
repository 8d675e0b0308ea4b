# Drives the audio engine for bench/sound_server.py, which measures a sound server's side.
add_executable(bench_server ${CMAKE_CURRENT_LIST_DIR}/bench_server.cpp)
target_link_libraries(bench_server PRIVATE ombura_sound)
