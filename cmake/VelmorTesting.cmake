# velmor_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers each of its tests with ctest.
function(velmor_add_test name)
  if(NOT VELMOR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # Exported symbols let code ask at run time whether it runs under the test harness.
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  # Labels are set once the tests are discovered: a list handed through the discovery's PROPERTIES
  # loses its separators on the way, so several labels would turn into properties of their own.
  gtest_discover_tests(${name} TEST_LIST ${name}_TESTS DISCOVERY_TIMEOUT 60)
  if(ARG_LABELS)
    set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${labels_file}"
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
  endif()
endfunction()
