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
#   a suite, NAME_threads, which runs those. Every configuration, the
#   ThreadSanitizer one included, builds and runs both.
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

option(OBJPATCHER_UNITY_TESTS "Compile the test sources of a binary together, in batches" ON)
set(OBJPATCHER_UNITY_BATCH 0 CACHE STRING "Test sources per batch; 0 puts all of a binary's in one")

# The test sources themselves build quicker at a lower level, and their own
# code is not what is looked at: without optimization under ASan + UBSan, at
# -O1 under TSan and in the optimized builds. The libraries they test keep the
# configuration's level.
set(test_optimization "")
if(OBJPATCHER_SANITIZE STREQUAL "address")
  set(test_optimization -O0)
elseif(OBJPATCHER_SANITIZE STREQUAL "thread" OR CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$")
  set(test_optimization -O1)
endif()

# OBJPATCHER_PCH: the standard headers most sources include are compiled once
# per build and reused by every library, and with the test framework's
# headers once more for every test binary. Headers are then seen by a source
# even where it forgot to include them: build with OBJPATCHER_PCH=OFF to check.
option(OBJPATCHER_PCH "Precompile the common standard headers once for every library and test" ON)
if(OBJPATCHER_PCH)
  set(standard_headers <algorithm> <atomic> <functional> <map> <memory> <mutex> <string> <thread> <utility>
                       <vector>)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/precompiled.cpp CONTENT "")
  add_library(objpatcher_precompiled OBJECT ${PROJECT_BINARY_DIR}/precompiled.cpp)
  target_include_directories(objpatcher_precompiled PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_precompile_headers(objpatcher_precompiled PRIVATE ${standard_headers})
  add_library(objpatcher_test_precompiled OBJECT ${PROJECT_BINARY_DIR}/precompiled.cpp)
  target_include_directories(objpatcher_test_precompiled PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_link_libraries(objpatcher_test_precompiled PRIVATE GTest::gtest GTest::gmock)
  target_compile_options(objpatcher_test_precompiled PRIVATE ${test_optimization})
  target_precompile_headers(objpatcher_test_precompiled PRIVATE ${standard_headers} <gtest/gtest.h>
                                                                <gmock/gmock.h>)
endif()

function(objpatcher_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(OBJPATCHER_PCH)
    target_precompile_headers(${name} REUSE_FROM objpatcher_precompiled)
  endif()
endfunction()

# The test sources of a binary, compiled together in batches of
# OBJPATCHER_UNITY_BATCH (0: one batch): a batch includes every header its
# sources include first, then each source inside a namespace of its own, so
# that the helpers each test file keeps in its anonymous namespace never meet.
# A source that opens a named namespace or specializes a template is compiled
# on its own (its definitions must stay where they are declared). Headers must
# compile whatever was included before them. Sets `out` to the sources to build.
function(objpatcher_test_batches name out)
  set(alone "")
  set(together "")
  foreach(source ${ARGN})
    get_filename_component(source ${source} ABSOLUTE)
    file(READ ${source} text)
    if(text MATCHES "(^|\n)[ \t]*(namespace[ \t]+[A-Za-z_]|template[ \t]*<>)")
      list(APPEND alone ${source})
    else()
      list(APPEND together ${source})
    endif()
  endforeach()
  set(sources ${alone})
  list(LENGTH together count)
  set(size ${OBJPATCHER_UNITY_BATCH})
  if(size LESS_EQUAL 0)
    set(size ${count})
  endif()
  set(batch 0)
  while(together)
    list(SUBLIST together 0 ${size} members)
    list(LENGTH together count)
    if(count GREATER size)
      list(SUBLIST together ${size} -1 together)
    else()
      set(together "")
    endif()
    set(includes "")
    set(bodies "")
    set(index 0)
    foreach(source ${members})
      file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
      list(APPEND includes ${lines})
      string(APPEND bodies "namespace ObjpatcherTestSource${index} {\n#include \"${source}\"\n}\n")
      math(EXPR index "${index} + 1")
    endforeach()
    list(REMOVE_DUPLICATES includes)
    list(JOIN includes "\n" includes)
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${name}_batch${batch}.cpp)
    file(CONFIGURE OUTPUT ${file} CONTENT "// Generated from the test sources of ${name}.\n${includes}\n${bodies}" @ONLY)
    list(APPEND sources ${file})
    math(EXPR batch "${batch} + 1")
  endwhile()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

function(objpatcher_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(OBJPATCHER_UNITY_TESTS)
    objpatcher_test_batches(${name} sources ${ARG_SOURCES})
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_options(${name} PRIVATE ${test_optimization})
  if(OBJPATCHER_PCH)
    target_precompile_headers(${name} REUSE_FROM objpatcher_test_precompiled)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_filter=-*Threads.*:*Threads/*)
  set(tests ${name})
  # Suites named "*Threads" run as a test of their own, beside the others.
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
