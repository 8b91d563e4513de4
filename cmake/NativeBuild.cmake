# Native Linux build: harbinet-server, its tests and load generator, the pure parsers'
# unit tests and fuzz targets. Configured with clang so that libFuzzer is at hand.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

foreach(dir server tests/server tests/package bench/server tests/parsing tests/fuzz)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endforeach()

include(cmake/ServerPackage.cmake)
