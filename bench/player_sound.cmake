quarvel_bench(player_sound_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/player_sound_bench.cpp
  LIBS quarvel_player_sound)
