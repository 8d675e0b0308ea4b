# The music channel: the command interpreter, the MIDI file reader, the sequencer and the
# FluidSynth synthesiser behind it. FluidSynth is seen by FluidSynthEngine.cpp alone, which
# opens the library at run time: only its headers are used here, and nothing links it.
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
target_include_directories(ombura_sound SYSTEM PRIVATE $<TARGET_PROPERTY:PkgConfig::FLUIDSYNTH,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_options(ombura_sound PRIVATE $<TARGET_PROPERTY:PkgConfig::FLUIDSYNTH,INTERFACE_COMPILE_OPTIONS>)
target_link_libraries(ombura_sound PUBLIC Threads::Threads)
