quarvel_bench(swf_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/swf_bench.cpp
  LIBS quarvel_sound_extraction quarvel_swf quarvel_test_support)
