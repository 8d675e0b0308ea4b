# The audio path: WAV decoding, the effect player, the mixer, the SDL output and the engine
# that joins them to the music channel. SdlBackend.cpp opens SDL at run time: only its headers
# are used here, and nothing links it.
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
target_include_directories(ombura_sound SYSTEM PRIVATE $<TARGET_PROPERTY:PkgConfig::SDL2,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_options(ombura_sound PRIVATE $<TARGET_PROPERTY:PkgConfig::SDL2,INTERFACE_COMPILE_OPTIONS>)
target_link_libraries(ombura_sound PUBLIC Threads::Threads)
