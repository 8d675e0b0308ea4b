# The audio path: WAV decoding, the effect player, the mixer, the SDL output and the engine
# that joins them to the music channel.
target_sources(ombura_sound PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/WavHeader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WavDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WavCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Resampler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EffectPlayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mixer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SdlBackend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SdlOutput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AudioEngine.cpp
)
find_package(Threads REQUIRED)
target_link_libraries(ombura_sound PUBLIC PkgConfig::SDL2 Threads::Threads)
