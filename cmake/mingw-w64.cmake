# What both cross toolchains for harbinet.dll share: mingw-w64 for the triplet that the
# toolchain file of each width names, posix thread model (the tests need std::thread).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${HARBINET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HARBINET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${HARBINET_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HARBINET_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
