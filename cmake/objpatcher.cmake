# Helpers shared by every folder's CMakeLists.txt.
#
# OBJPATCHER_LIBFUZZER (clang only): every object of the build carries
# libFuzzer's coverage counters (-fsanitize=fuzzer-no-link), so that a fuzz
# target sees the branches of the libraries it drives, not only its own; the
# fuzz targets alone are linked with the libFuzzer driver (-fsanitize=fuzzer).
#
# objpatcher_library(NAME SOURCES ... DEPS ...)
#   One static library per folder. Headers are included by their path from the
#   repository root ("core/common/error.h").
#
# objpatcher_tests(NAME SOURCES ... DEPS ...)
#   One GoogleTest binary per folder, registered as CTest test NAME, which runs
#   every suite except those named "*Threads", and, where a source declares such
#   a suite, NAME_threads, which runs those and carries the label "threads" (the
#   ThreadSanitizer build builds and runs only that label).
#
# objpatcher_fuzz(NAME SOURCE ... DEPS ... CORPUS dir)
#   A fuzz target: SOURCE defines LLVMFuzzerTestOneInput. With g++ it is linked
#   with the replay driver and CTest replays the seed corpus through it; with
#   clang and OBJPATCHER_LIBFUZZER it is a libFuzzer binary as well.

option(OBJPATCHER_LIBFUZZER "Also build libFuzzer binaries (clang only)" OFF)
if(OBJPATCHER_LIBFUZZER AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()

option(OBJPATCHER_TEST_PCH "Precompile the test framework's headers in every test binary" OFF)
option(OBJPATCHER_UNITY_TESTS "Compile the test sources of a binary in batches (unity build)" ON)
set(OBJPATCHER_UNITY_BATCH 8 CACHE STRING "Test sources per unity batch; 0 puts all of a binary's in one")

function(objpatcher_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

function(objpatcher_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  if(OBJPATCHER_TEST_PCH)
    target_precompile_headers(${name} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  endif()
  set_target_properties(${name} PROPERTIES UNITY_BUILD ${OBJPATCHER_UNITY_TESTS}
                                           UNITY_BUILD_BATCH_SIZE ${OBJPATCHER_UNITY_BATCH})
  add_test(NAME ${name} COMMAND ${name} --gtest_filter=-*Threads.*:*Threads/*)
  set(tests ${name})
  # The "threads" test exists only where a source declares a *Threads suite, so
  # the ThreadSanitizer build compiles just those binaries.
  set(has_threads_suite FALSE)
  foreach(source ${ARG_SOURCES})
    file(READ ${source} text)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    if(text MATCHES "Threads[ \t\r\n]*,")
      set(has_threads_suite TRUE)
    endif()
  endforeach()
  if(has_threads_suite)
    add_test(NAME ${name}_threads COMMAND ${name} --gtest_filter=*Threads.*:*Threads/*)
    set_tests_properties(${name}_threads PROPERTIES LABELS threads)
    list(APPEND tests ${name}_threads)
  endif()
  set_tests_properties(${tests} PROPERTIES
    ENVIRONMENT "OBJPATCHER_SOURCE_DIR=${PROJECT_SOURCE_DIR};OBJPATCHER_BINARY_DIR=${PROJECT_BINARY_DIR}"
    TIMEOUT 300)
endfunction()


function(objpatcher_fuzz name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name}_replay ${ARG_SOURCES})
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS} fuzz_replay_main)
  add_test(NAME ${name}_replay COMMAND ${name}_replay ${ARG_CORPUS})
  set_tests_properties(${name}_replay PROPERTIES TIMEOUT 300)
  if(OBJPATCHER_LIBFUZZER AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  endif()
endfunction()

# objpatcher_folder(NAME DEPS ... [TEST_DEPS ...] [EXTRA_SOURCES ...])
#   The usual folder: every *.cpp beside the CMakeLists.txt except *_test.cpp
#   and *_fuzz.cpp builds the static library NAME; the *_test.cpp files build
#   NAME_test; each X_fuzz.cpp is a fuzz target replayed over corpus/X/.
function(objpatcher_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS;EXTRA_SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "(_test|_fuzz)\\.cpp$")
  objpatcher_library(${name} SOURCES ${sources} ${ARG_EXTRA_SOURCES} DEPS ${ARG_DEPS})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(tests)
    objpatcher_tests(${name}_test SOURCES ${tests} DEPS ${name} ${ARG_TEST_DEPS})
  endif()
  file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_fuzz.cpp)
  foreach(fuzzer ${fuzzers})
    get_filename_component(target ${fuzzer} NAME_WE)
    objpatcher_fuzz(${target} SOURCES ${fuzzer} DEPS ${name} CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${target})
  endforeach()
endfunction()
