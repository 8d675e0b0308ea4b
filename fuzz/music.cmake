# Fuzzers for the music channel's parsing layers: the command interpreter and the MIDI file
# reader. Neither needs a SoundFont. Built with clang under OMBURA_FUZZ.
set(music_fuzz_sources
  ${PROJECT_SOURCE_DIR}/sound/MciCommand.cpp
  ${PROJECT_SOURCE_DIR}/sound/MciInterpreter.cpp
  ${PROJECT_SOURCE_DIR}/sound/MidiFile.cpp
  ${PROJECT_SOURCE_DIR}/sound/MidiLoad.cpp
  ${PROJECT_SOURCE_DIR}/sound/SoundFontSearch.cpp
  ${PROJECT_SOURCE_DIR}/sound/FluidSynthEngine.cpp
  ${PROJECT_SOURCE_DIR}/sound/SynthHost.cpp
  ${PROJECT_SOURCE_DIR}/sound/Sequencer.cpp
  ${PROJECT_SOURCE_DIR}/sound/SequencerDevice.cpp
  ${PROJECT_SOURCE_DIR}/sound/MusicChannel.cpp
)
find_package(Threads REQUIRED)
foreach(name mci midi)
  add_executable(fuzz_${name} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${name}.cpp ${music_fuzz_sources})
  target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR}/sound)
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_${name} PRIVATE PkgConfig::FLUIDSYNTH Threads::Threads)
endforeach()
