# What every test may include: TestTools.h (TWK_REQUIRE_TOOL for tests that need an outside tool) and
# TestFolder.h (the folder of its own where a test process writes its files, under TWK_TEST_TMP).
if(TWK_BUILD_TESTS AND NOT TARGET twk_test_support)
  add_library(twk_test_support INTERFACE)
  target_include_directories(twk_test_support INTERFACE ${CMAKE_SOURCE_DIR}/tests/support)
endif()

# twk_add_gtest(<name> LABEL <label> SOURCES <files...> LIBS <targets...>)
# One GoogleTest binary per module; every test carries its module's label (ctest -L <label>) and
# the label gtest. Tests run headless: the Qt platform is offscreen and prompts come from a scripted
# UI. Each run takes the tests in a fresh random order (the seed is printed), so that no test
# depends on another having run before it; scripts/test.sh --shuffle-repeat runs them twice over.
function(twk_add_gtest name)
  if(NOT TWK_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} twk_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE TWK_SOURCE_DIR="${TWK_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_shuffle)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${ARG_LABEL};gtest"
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;OPENBLAS_NUM_THREADS=1;TWK_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
endfunction()

# twk_add_bench(<name> SOURCES <files...> LIBS <targets...>)
function(twk_add_bench name)
  if(NOT TWK_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# twk_command_bindings(<target> <name>)
# Keeps the TW_COMMAND_BINDINGS(<name>) block of one of <target>'s sources (app/operations/
# CommandTable.h) in every program that links <target>: a static library drops an object file that
# nothing calls, and the block only registers bindings from its static initialiser.
function(twk_command_bindings target name)
  target_link_options(${target} INTERFACE "LINKER:--undefined=twk_command_bindings_${name}")
endfunction()

# twk_add_missing_tool_test(<name> TOOL <what is missing> LABELS <labels...>)
# Stands in for tests that cannot be registered because a tool or package was not found at
# configure time: skipped outside continuous integration, naming the tool; failed under CI.
function(twk_add_missing_tool_test name)
  if(NOT TWK_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TOOL" "LABELS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/missing-tool.sh "${ARG_TOOL}")
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" SKIP_RETURN_CODE 77)
endfunction()
