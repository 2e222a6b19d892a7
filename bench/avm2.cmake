quarvel_bench(avm2_bench SOURCES avm2_bench.cpp LIBS quarvel_avm2 quarvel_test_support)
