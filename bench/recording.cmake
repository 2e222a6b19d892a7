quarvel_bench(recording_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/recording_bench.cpp
  LIBS quarvel_sound)
