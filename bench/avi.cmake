quarvel_bench(avi_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/avi_bench.cpp LIBS quarvel_avi)
