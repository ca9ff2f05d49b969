# Shared build conventions: warnings as errors on our own code, and areas that
# pick up their subdirectories and sources without a central list to edit.

function(lumaro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Adds every immediate subdirectory of the current source dir that has a CMakeLists.txt.
function(lumaro_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# A static library made of the .cpp/.h files directly in the current dir.
function(lumaro_area_library name)
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  lumaro_warnings(${name})
endfunction()

# One GoogleTest executable registered with CTest under the given labels.
# Usage: lumaro_test(NAME name SOURCES a.cpp ... LIBS libs... LABELS unit ... [TIMEOUT s])
function(lumaro_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  lumaro_warnings(${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(env "QT_QPA_PLATFORM=offscreen;LUMARO_SAMPLES=${PROJECT_SOURCE_DIR}/samples;LUMARO_BIN=${CMAKE_BINARY_DIR}/bin")
  list(APPEND env ${T_ENV})
  # gtest_discover_tests writes each list element as a property of its own, so
  # a list of variables cannot go through ENVIRONMENT; the test program sets
  # them itself at start (tests/support/TestEnvironment.cpp), unless the
  # caller's environment already has them.
  list(JOIN env "|" env_joined)
  target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestEnvironment.cpp)
  target_link_libraries(${T_NAME} PRIVATE Qt6::Core)
  target_compile_definitions(${T_NAME} PRIVATE "LUMARO_TEST_ENVIRONMENT=\"${env_joined}\"")
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()

# A libFuzzer target. The code under test is listed in SOURCES beside the harness, not linked
# from the area libraries, so that it carries the fuzzer's coverage instrumentation and the
# sanitizers. Usage: lumaro_fuzz_target(NAME name SOURCES harness.cpp src/... LIBS libs...)
function(lumaro_fuzz_target)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  list(TRANSFORM F_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/ REGEX "^src/")
  add_executable(${F_NAME} ${F_SOURCES})
  target_include_directories(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_compile_options(${F_NAME} PRIVATE
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  lumaro_warnings(${F_NAME})
endfunction()
