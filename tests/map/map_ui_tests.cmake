# The map widgets and the map dialogs, offscreen. Included inside if(HYGROLOG_BUILD_UI).
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
add_executable(map_ui_tests ${PROJECT_SOURCE_DIR}/tests/ui/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_widget_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/ui/map_dialogs_test.cpp)
target_link_libraries(map_ui_tests PRIVATE hygro_ui hygro_map_qt Qt6::Test GTest::gtest GTest::gmock)
target_include_directories(map_ui_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_test(NAME map_ui_tests COMMAND map_ui_tests)
set_tests_properties(map_ui_tests PROPERTIES TIMEOUT 300)
