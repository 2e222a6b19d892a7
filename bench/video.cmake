quarvel_bench(video_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/video_bench.cpp ${PROJECT_SOURCE_DIR}/src/player/video/test_streams.cpp
  LIBS quarvel_video)
quarvel_bench(video_playback_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/video_playback_bench.cpp ${PROJECT_SOURCE_DIR}/src/player/video/test_streams.cpp
  LIBS quarvel_player quarvel_test_support)
