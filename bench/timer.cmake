add_executable(timer_jitter ${CMAKE_CURRENT_LIST_DIR}/timer_jitter.cpp ${PROJECT_SOURCE_DIR}/app/SoundSystem.cpp)
target_include_directories(timer_jitter PRIVATE ${PROJECT_SOURCE_DIR}/app)
target_link_libraries(timer_jitter PRIVATE ombura_game ombura_windows_qt ombura_sound Qt6::Widgets)
