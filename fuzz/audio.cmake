# Fuzzer for the effect files: the RIFF checker, SDL's decoders behind it and the resampler.
# The sources are compiled into the target itself so the fuzzer's coverage reaches them.
add_executable(fuzz_wav
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_wav.cpp
  ${PROJECT_SOURCE_DIR}/sound/WavHeader.cpp
  ${PROJECT_SOURCE_DIR}/sound/WavDecoder.cpp
  ${PROJECT_SOURCE_DIR}/sound/Resampler.cpp
  ${PROJECT_SOURCE_DIR}/sound/SdlBackend.cpp
)
target_include_directories(fuzz_wav PRIVATE ${PROJECT_SOURCE_DIR}/sound)
target_compile_options(fuzz_wav PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
target_link_options(fuzz_wav PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_wav PRIVATE PkgConfig::SDL2)
