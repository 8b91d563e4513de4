# The value benchmark: Set and Get of a scalar, a 16 MiB byte array and a 16 MiB stream
# through IHarbinet against a bare Winsock loop, and the memory of the stream case.
harbinet_bench(value_bench value_bench.cpp)
