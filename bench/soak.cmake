# The soak: many mixed calls in one process against two servers, memory and handles watched.
harbinet_bench(soak_bench soak_bench.cpp)
target_link_libraries(soak_bench PRIVATE iphlpapi)
