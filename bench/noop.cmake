# The Noop benchmark: IHarbinet::Noop round trips against a bare Winsock loop.
harbinet_bench(noop_bench noop_bench.cpp)
