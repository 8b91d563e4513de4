# Cross toolchain for the 32-bit harbinet.dll, for 32-bit hosts.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HARBINET_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
