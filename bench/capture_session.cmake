quarvel_bench(capture_session_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/capture_session_bench.cpp
  LIBS quarvel_capture quarvel_player quarvel_test_support)
