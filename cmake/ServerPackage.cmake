# harbinet-server's Debian package (cpack -G DEB in build/native): the program,
# its systemd service, its config file as a conffile, and its documents.
# Destinations are relative to the root, so the package lays them out as Debian does.
set(package_dir ${CMAKE_SOURCE_DIR}/server/package)

install(TARGETS harbinet-server RUNTIME DESTINATION usr/bin)
install(FILES ${package_dir}/harbinet-server.service DESTINATION lib/systemd/system)
install(FILES ${package_dir}/harbinet-server.conf DESTINATION etc/harbinet)
# Debian wants both compressed with no timestamp, so the package is the same every build.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
foreach(doc changelog)
    execute_process(COMMAND gzip -9nc ${package_dir}/${doc}
        OUTPUT_FILE ${CMAKE_BINARY_DIR}/package/${doc}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${package_dir}/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
    ${CMAKE_SOURCE_DIR}/docs/server.md
    DESTINATION usr/share/doc/harbinet-server)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harbinet-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cache server for the Harbinet COM component")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "harbinet-server keeps typed values for Harbinet clients (harbinet.dll under
 Windows COM hosts) in memory or in Redis, and serves Prometheus metrics.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Harbinet developers <harbinet@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${package_dir}/conffiles ${package_dir}/postinst ${package_dir}/prerm ${package_dir}/postrm)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
