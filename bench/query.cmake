# The query cache benchmark: an Execute hit against a Get of the same stored bytes into a
# stream, and what the command key costs. Wine's ADO cannot save a result set, so it
# uses the fake ADO objects of the query tests.
harbinet_bench(query_bench query_bench.cpp ${CMAKE_SOURCE_DIR}/tests/query/fake_ado.cpp)
