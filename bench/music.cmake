# The music channel against FluidSynth's own player: CPU per audio second, end-to-"stopped"
# delay on the sample clock, and peak memory with the default SoundFont.
add_executable(bench_music ${CMAKE_CURRENT_LIST_DIR}/bench_music.cpp)
target_link_libraries(bench_music PRIVATE ombura_sound PkgConfig::FLUIDSYNTH)
