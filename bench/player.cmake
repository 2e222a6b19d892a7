quarvel_bench(player_bench SOURCES player_bench.cpp LIBS quarvel_player)
