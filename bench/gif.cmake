find_package(GIF REQUIRED)
quarvel_bench(gif_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/gif_bench.cpp LIBS quarvel_gif quarvel_capture quarvel_paths GIF::GIF)
# Not a benchmark of its own: the PSNR and raw-frame helper of scripts/bench-gif.
add_executable(gif_quality ${CMAKE_CURRENT_LIST_DIR}/gif_quality.cpp)
target_compile_options(gif_quality PRIVATE ${QUARVEL_WARNINGS})
target_include_directories(gif_quality PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
target_link_libraries(gif_quality PRIVATE quarvel_capture quarvel_paths GIF::GIF)
