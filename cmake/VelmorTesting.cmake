# velmor_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [MAIN <target>]
#                 [EXECUTOR <program>] [PROPERTIES <name> <value>...])
# Builds one GoogleTest executable and registers each of its tests with ctest. MAIN names a library
# that brings its own main() (the interface tests make their application there); without it,
# GoogleTest's own main is linked. With EXECUTOR, ctest runs each test (and the listing of the
# tests) as `<program> <test executable> <arguments>`. PROPERTIES are further ctest properties of every
# test (fixtures, resource locks, environment), one value each.
function(velmor_add_test name)
  if(NOT VELMOR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "MAIN;EXECUTOR" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_MAIN)
    set(main ${ARG_MAIN})
  else()
    set(main GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${main} GTest::gtest GTest::gmock)
  if(ARG_EXECUTOR)
    # Test discovery reads the executor from this property.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${ARG_EXECUTOR}")
  endif()
  # Exported symbols let code ask at run time whether it runs under the test harness.
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  # Labels and other properties are set once the tests are discovered: a list handed through the discovery's PROPERTIES
  # loses its separators on the way, so several labels would turn into properties of their own.
  gtest_discover_tests(${name} TEST_LIST ${name}_TESTS DISCOVERY_TIMEOUT 60)
  set(properties "")
  if(ARG_LABELS)
    string(APPEND properties " LABELS \"${ARG_LABELS}\"")
  endif()
  while(ARG_PROPERTIES)
    list(POP_FRONT ARG_PROPERTIES property value)
    string(APPEND properties " ${property} \"${value}\"")
  endwhile()
  if(properties)
    set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${labels_file}"
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES${properties})\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
  endif()
endfunction()
