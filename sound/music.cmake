# The music channel: the command interpreter, the MIDI file reader, the sequencer and the
# FluidSynth synthesiser behind it. FluidSynth is seen by FluidSynthEngine.cpp alone.
target_sources(ombura_sound PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MciCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MciInterpreter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiLoad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SoundFontSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FluidSynthEngine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SynthHost.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Sequencer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SequencerDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MusicChannel.cpp
)
find_package(Threads REQUIRED)
target_link_libraries(ombura_sound PUBLIC PkgConfig::FLUIDSYNTH Threads::Threads)
