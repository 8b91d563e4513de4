# Cross build with mingw-w64: the type library, harbinet.dll, and the Windows tests
# and benchmarks, which run under wine through the wrapper made below.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release)
endif()
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# One source makes a 64-bit and a 32-bit module (the toolchain file chooses); this is
# where the two builds differ: the type library's system kind, wine's own library folder
# that matches it, the folder of the system programs (cscript, regsvr32, msiexec) that a
# host of that width runs from, and a default test port that keeps the two test runs
# apart (each uses up to ten ports above it).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(HARBINET_ARCH x64)
    set(WIDL_TARGET -m64 --win64)
    set(WINE_DLL_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(HARBINET_WINE_SYSTEM_DIR system32)
    set(HARBINET_DEFAULT_TEST_PORT 18177)
    set(HARBINET_MODULE_LINK_OPTIONS)
else()
    set(HARBINET_ARCH x86)
    set(WIDL_TARGET -m32 --win32)
    set(WINE_DLL_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
    set(HARBINET_WINE_SYSTEM_DIR syswow64)
    set(HARBINET_DEFAULT_TEST_PORT 18197)
    # The entry points are __stdcall, decorated in 32 bits; the .def file names them bare.
    set(HARBINET_MODULE_LINK_OPTIONS -Wl,--enable-stdcall-fixup)
endif()

find_program(WIDL x86_64-w64-mingw32-widl REQUIRED)
set(WINE_IDL_DIR /usr/include/wine/wine/windows)
set(GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GENERATED_DIR})

set(IDL_FILE ${CMAKE_SOURCE_DIR}/dispatch/harbinet.idl)
add_custom_command(
    OUTPUT ${GENERATED_DIR}/harbinet.tlb
    COMMAND ${WIDL} ${WIDL_TARGET} -I ${WINE_IDL_DIR} -L ${WINE_DLL_DIR} -t -o ${GENERATED_DIR}/harbinet.tlb ${IDL_FILE}
    DEPENDS ${IDL_FILE}
    COMMENT "Type library from harbinet.idl")
add_custom_command(
    OUTPUT ${GENERATED_DIR}/harbinet_h.h
    COMMAND ${WIDL} ${WIDL_TARGET} -I ${WINE_IDL_DIR} -h -H ${GENERATED_DIR}/harbinet_h.h ${IDL_FILE}
    DEPENDS ${IDL_FILE}
    COMMENT "Interface header from harbinet.idl")
add_custom_target(harbinet_idl DEPENDS ${GENERATED_DIR}/harbinet.tlb ${GENERATED_DIR}/harbinet_h.h)

# Warnings and the static runtime are shared by every Windows target.
add_library(harbinet_options INTERFACE)
target_include_directories(harbinet_options INTERFACE ${CMAKE_SOURCE_DIR} ${GENERATED_DIR})
target_compile_definitions(harbinet_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(harbinet_options INTERFACE -Wall -Wextra -Wno-unknown-pragmas -Wno-write-strings -Wno-cast-function-type)
target_link_options(harbinet_options INTERFACE -static -static-libgcc -static-libstdc++)

set(HARBINET_SOURCES
    common/report_error.cpp
    common/narrow_text.cpp
    common/wide_text.cpp
    dispatch/harbinet_guids.cpp
    dispatch/type_description.cpp
    client/url_scan.cpp
    client/reply_head_scanner.cpp
    client/time_limits.cpp
    client/client_start.cpp
    client/open_close.cpp
    client/request_head.cpp
    client/reply_head.cpp
    client/cookie.cpp
    client/simple_commands.cpp
    values/value_class.cpp
    values/element_name.cpp
    values/body_writer.cpp
    values/body_reader.cpp
    values/set_command.cpp
    values/get_command.cpp
    values/item_property.cpp
    query/command_key.cpp
    query/execute_command.cpp
    distributed/server_list_scan.cpp
    distributed/server_pool.cpp
    distributed/pool_registry.cpp
    distributed/checkout.cpp
    distributed/distributed_client.cpp
    distributed/distributed_execute.cpp
    module/library_entry.cpp
    module/class_objects.cpp
    module/registration.cpp)
set(HARBINET_LIBS ole32 oleaut32 uuid ws2_32 advapi32)

# The code of the module, shared by the DLL, its variant without a type library and
# the tests that exercise internal helpers.
add_library(harbinet_core STATIC ${HARBINET_SOURCES})
add_dependencies(harbinet_core harbinet_idl)
target_link_libraries(harbinet_core PUBLIC harbinet_options ${HARBINET_LIBS})

configure_file(${CMAKE_SOURCE_DIR}/dispatch/harbinet_version.h.in ${GENERATED_DIR}/harbinet_version.h @ONLY)
set_source_files_properties(${CMAKE_SOURCE_DIR}/dispatch/harbinet.rc PROPERTIES
                            OBJECT_DEPENDS "${GENERATED_DIR}/harbinet.tlb;${GENERATED_DIR}/harbinet_version.h")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${GENERATED_DIR}")
enable_language(RC)

function(harbinet_module name)
    add_library(${name} SHARED ${ARGN} ${CMAKE_SOURCE_DIR}/module/harbinet.def)
    set_target_properties(${name} PROPERTIES PREFIX "")
    target_link_options(${name} PRIVATE ${HARBINET_MODULE_LINK_OPTIONS})
    # Whole archive: the entry points live in the static library and nothing else pulls them in.
    target_link_libraries(${name} PRIVATE -Wl,--whole-archive harbinet_core -Wl,--no-whole-archive harbinet_options ${HARBINET_LIBS})
endfunction()

harbinet_module(harbinet dispatch/harbinet.rc)
# The same module without its type library: it must refuse to load.
harbinet_module(harbinet_notlb)

# The installer carries both modules and is made by the 64-bit build, beside its own
# module (wixl looks for its files there); the 32-bit module comes from the 32-bit build.
# Each version gets its own product code, the same one on every build of that version,
# so that a package of the same version can always remove what another one installed.
if(HARBINET_ARCH STREQUAL x64)
    set(HARBINET_DLL32 ${CMAKE_BINARY_DIR}/../win32/bin/harbinet.dll CACHE FILEPATH
        "The 32-bit harbinet.dll that the installer carries beside the 64-bit one")
    find_program(WIXL wixl REQUIRED)
    string(UUID HARBINET_PRODUCT_CODE NAMESPACE 8DE8CD31-729C-48D0-8794-6D52E824D05A
           NAME "Harbinet ${PROJECT_VERSION}" TYPE SHA1 UPPER)
    set(HARBINET_MSI ${CMAKE_BINARY_DIR}/harbinet.msi)
    add_custom_command(
        OUTPUT ${HARBINET_MSI}
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/installer/harbinet.wxs $<TARGET_FILE_DIR:harbinet>/harbinet.wxs
        COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:harbinet>/x86
        COMMAND ${CMAKE_COMMAND} -E copy ${HARBINET_DLL32} $<TARGET_FILE_DIR:harbinet>/x86/harbinet.dll
        COMMAND ${WIXL} -a x64 -D Version=${PROJECT_VERSION} -D ProductCode=${HARBINET_PRODUCT_CODE}
                -o ${HARBINET_MSI} $<TARGET_FILE_DIR:harbinet>/harbinet.wxs
        DEPENDS harbinet $<TARGET_FILE:harbinet> ${HARBINET_DLL32} ${CMAKE_SOURCE_DIR}/installer/harbinet.wxs
        COMMENT "harbinet.msi")
    add_custom_target(harbinet_msi ALL DEPENDS ${HARBINET_MSI})
endif()

# Every Windows program runs under wine in a private prefix inside this build folder.
set(HARBINET_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# GoogleTest from Debian's sources, built with this toolchain.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(examples)
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
    add_subdirectory(bench)
endif()
