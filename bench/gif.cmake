quarvel_bench(gif_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/gif_bench.cpp LIBS quarvel_gif quarvel_capture quarvel_paths)
