find_package(PkgConfig REQUIRED)
pkg_check_modules(XCB_SHM REQUIRED IMPORTED_TARGET xcb xcb-shm)
add_library(firstframe_shim SHARED ${CMAKE_CURRENT_LIST_DIR}/firstframe_shim.c)
target_link_libraries(firstframe_shim PRIVATE PkgConfig::XCB_SHM dl)
set_target_properties(firstframe_shim PROPERTIES C_STANDARD 11)
target_compile_options(firstframe_shim PRIVATE -Wno-pedantic -Wno-conversion)

add_executable(minimal_qt ${CMAKE_CURRENT_LIST_DIR}/minimal_qt.cpp)
target_link_libraries(minimal_qt PRIVATE Qt6::Widgets)
