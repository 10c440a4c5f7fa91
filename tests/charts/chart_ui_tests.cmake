# The chart panes and the chart dialogs, offscreen. Included inside if(HYGROLOG_BUILD_UI).
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
add_executable(chart_ui_tests ${PROJECT_SOURCE_DIR}/tests/ui/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lumo_charts_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/ui/chart_dialogs_test.cpp)
target_link_libraries(chart_ui_tests PRIVATE hygro_ui hygro_charts_qt Qt6::Test GTest::gtest GTest::gmock)
target_include_directories(chart_ui_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_test(NAME chart_ui_tests COMMAND chart_ui_tests)
set_tests_properties(chart_ui_tests PROPERTIES TIMEOUT 300)
