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

# Full debug info (-g) made a third of the compile time and most of every object's
# size; line tables are enough for backtraces and sanitizer reports. Ask for
# "full" to see local variables in a debugger.
set(QUARVEL_DEBUG_INFO lines CACHE STRING "Debug info of RelWithDebInfo builds: lines (-g1) or full (-g)")
set_property(CACHE QUARVEL_DEBUG_INFO PROPERTY STRINGS lines full)
if(QUARVEL_DEBUG_INFO STREQUAL "lines")
  # Comes after CMake's own -g on the command line, so it wins.
  add_compile_options($<$<CONFIG:RelWithDebInfo>:-g1>)
elseif(NOT QUARVEL_DEBUG_INFO STREQUAL "full")
  message(FATAL_ERROR "QUARVEL_DEBUG_INFO must be lines or full, not '${QUARVEL_DEBUG_INFO}'")
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
  # The libraries also go into a module the command line loads (src/cli):
  # position independent, and binding within it as a program's code does.
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  set_property(GLOBAL APPEND PROPERTY QUARVEL_LIBRARIES ${name})
endfunction()

# quarvel_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [PROGRAM <program>])
# Makes <name> an object library of test sources; the objects join one test
# program per area, so that each area links the big libraries once:
#   as3_test     src/player/as3, src/player/avm2
#   player_test  the rest of src/player
#   app_test     src/app, tests/app (the Qt window)
#   core_test    the rest of src/ (platform, gif, avi, capture, sound, flash, cli...)
#   e2e_test     tests/ (end to end, cross-unit)
# The area is that of the first source. LABELS apply to a whole program, so a
# labelled group joins a program of its own (e2e_corpus_test); PROGRAM names the
# program outright (a test that needs a process configured apart). <name> stays
# a target: add_dependencies, target_compile_definitions and
# quarvel_place_recording_templates take it. Every TEST is a CTest test named
# Suite.Name, whatever program holds it.
# Test programs see QUARVEL_SHARED_DIR, QUARVEL_SOURCE_DIR and QUARVEL_BINARY_DIR.
function(quarvel_test_program out first_source labels)
  cmake_path(ABSOLUTE_PATH first_source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  file(RELATIVE_PATH rel "${PROJECT_SOURCE_DIR}" "${first_source}")
  if(rel MATCHES "^src/player/(as3|avm2)/")
    set(program as3_test)
  elseif(rel MATCHES "^src/player/")
    set(program player_test)
  elseif(rel MATCHES "^(src|tests)/app/")
    set(program app_test)
  elseif(rel MATCHES "^src/")
    set(program core_test)
  else()
    set(program e2e_test)
  endif()
  if(labels)
    list(JOIN labels "_" suffix)
    string(REGEX REPLACE "_test$" "_${suffix}_test" program "${program}")
  endif()
  set(${out} ${program} PARENT_SCOPE)
endfunction()

function(quarvel_test name)
  if(NOT QUARVEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(Q "" "PROGRAM" "SOURCES;LIBS;LABELS" ${ARGN})
  add_library(${name} OBJECT ${Q_SOURCES})
  # Test code spends its time in the code it tests, which keeps -O2; optimising
  # the tests' own code (every TEST body and matcher) cost half their compile time.
  target_compile_options(${name} PRIVATE ${QUARVEL_WARNINGS} $<$<CONFIG:RelWithDebInfo,Release>:-Og>)
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PUBLIC ${Q_LIBS} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QUARVEL_SHARED_DIR="${QUARVEL_SHARED_DIR}"
    QUARVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUARVEL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(Q_PROGRAM)
    set(program ${Q_PROGRAM})
  else()
    list(GET Q_SOURCES 0 first)
    quarvel_test_program(program "${first}" "${Q_LABELS}")
  endif()
  set_target_properties(${name} PROPERTIES QUARVEL_TEST_PROGRAM ${program})
  if(NOT TARGET ${program})
    add_executable(${program})
    set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/tests/bin")
    target_link_libraries(${program} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${program} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      WORKING_DIRECTORY "${PROJECT_BINARY_DIR}/tests/bin"
      PROPERTIES LABELS "${Q_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
  target_link_libraries(${program} PRIVATE ${name})
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
# QUARVEL_FUZZ=ON (clang); otherwise, with the tests, the test fuzz_replay_<name>
# runs the target's kept corpus (tests/fuzz/corpus/<name>/) through the one
# program fuzz_replay (tests/fuzz), which holds every target under its own name.
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
    add_test(NAME fuzz_replay_${name} COMMAND $<TARGET_FILE:fuzz_replay> ${name} "${corpus}")
    # fontconfig keeps caches for the process's life; they are not our leaks.
    set_tests_properties(fuzz_replay_${name} PROPERTIES ENVIRONMENT
                         "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/player/fuzz_lsan.supp")
    set(entry "${name}")
    string(MAKE_C_IDENTIFIER "${entry}" entry)
    set(name ${name}_replay)
    add_library(${name} OBJECT ${Q_SOURCES})
    # The entry points under the target's own names, so that all fit in one program.
    target_compile_definitions(${name} PRIVATE LLVMFuzzerTestOneInput=QuarvelFuzzRun_${entry}
                                               LLVMFuzzerInitialize=QuarvelFuzzInit_${entry})
    set_property(GLOBAL APPEND PROPERTY QUARVEL_FUZZ_REPLAYS ${name})
    set_property(GLOBAL APPEND PROPERTY QUARVEL_FUZZ_ENTRIES ${entry})
  else()
    return()
  endif()
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PUBLIC ${Q_LIBS})
endfunction()
