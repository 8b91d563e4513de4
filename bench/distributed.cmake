# The distributed benchmark: forwarded calls against single-server calls, threads on one pool, liveness checks.
harbinet_bench(distributed_bench distributed_bench.cpp)
