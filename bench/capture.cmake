find_package(ZLIB REQUIRED)
quarvel_bench(capture_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp LIBS quarvel_capture ZLIB::ZLIB)
