# Helpers shared by every subsystem folder.

find_package(PkgConfig REQUIRED)

# Rebuilds after a checkout mostly recompile unchanged files; ccache serves them.
option(QUARVEL_CCACHE "Compile through ccache when it is installed" ON)
if(QUARVEL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(QUARVEL_CCACHE_PROGRAM ccache)
  if(QUARVEL_CCACHE_PROGRAM)
    set(CMAKE_C_COMPILER_LAUNCHER "${QUARVEL_CCACHE_PROGRAM}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${QUARVEL_CCACHE_PROGRAM}")
  endif()
endif()

set(QUARVEL_WARNINGS -Wall -Wextra -Wpedantic)
if(QUARVEL_WERROR)
  list(APPEND QUARVEL_WARNINGS -Werror)
endif()

if(ASAN)
  # GCC's undefined set leaves out float-to-int overflow, which scripts reach
  # with NaN and huge numbers; ask for it by name.
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined,float-cast-overflow)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()

if(QUARVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUARVEL_FUZZ needs clang (configure with CXX=clang++ CC=clang)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set_property(GLOBAL PROPERTY QUARVEL_LIBRARIES "")

# quarvel_library(<name> SOURCES ... [LIBS ...])
function(quarvel_library name)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${Q_SOURCES})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_compile_options(${name} PRIVATE ${QUARVEL_WARNINGS})
  target_link_libraries(${name} PUBLIC ${Q_LIBS})
  set_property(GLOBAL APPEND PROPERTY QUARVEL_LIBRARIES ${name})
endfunction()

# quarvel_test(<name> SOURCES ... [LIBS ...] [LABELS ...])
# Test programs see QUARVEL_SHARED_DIR, QUARVEL_SOURCE_DIR and QUARVEL_BINARY_DIR.
function(quarvel_test name)
  if(NOT QUARVEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  target_compile_options(${name} PRIVATE ${QUARVEL_WARNINGS})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PRIVATE ${Q_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUARVEL_SHARED_DIR="${QUARVEL_SHARED_DIR}"
    QUARVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUARVEL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${Q_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# quarvel_bench(<name> SOURCES ... [LIBS ...])
function(quarvel_bench name)
  if(NOT QUARVEL_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PRIVATE ${Q_LIBS} benchmark::benchmark benchmark::benchmark_main)
  target_compile_definitions(${name} PRIVATE
    QUARVEL_SHARED_DIR="${QUARVEL_SHARED_DIR}"
    QUARVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUARVEL_BINARY_DIR="${PROJECT_BINARY_DIR}")
endfunction()

# quarvel_fuzz(<name> SOURCES ... [LIBS ...]): a libFuzzer target with
# QUARVEL_FUZZ=ON (clang); otherwise, with the tests, <name>_replay runs the
# target's kept corpus (tests/fuzz/corpus/<name>/) as an ordinary test.
function(quarvel_fuzz name)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS" ${ARGN})
  set(corpus "${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name}")
  if(QUARVEL_FUZZ)
    add_executable(${name} ${Q_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    if(QUARVEL_TESTS)
      add_test(NAME fuzz_replay_${name} COMMAND ${name} -runs=0 "${corpus}")
    endif()
  elseif(QUARVEL_TESTS)
    add_test(NAME fuzz_replay_${name} COMMAND ${name}_replay "${corpus}")
    # fontconfig keeps caches for the process's life; they are not our leaks.
    set_tests_properties(fuzz_replay_${name} PROPERTIES ENVIRONMENT
                         "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/player/fuzz_lsan.supp")
    set(name ${name}_replay)
    add_executable(${name} ${Q_SOURCES} "${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp")
  else()
    return()
  endif()
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PRIVATE ${Q_LIBS})
endfunction()
