# The gateway's Debian package, paging-gateway_VERSION_amd64.deb: the program in /usr/sbin, the systemd unit,
# the example configuration as a conffile. It is made by cpack -G DEB from a build without sanitizers.

# cpack installs what is built already; building everything first would take in the package target itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS paging_gateway RUNTIME DESTINATION sbin)
install(FILES ${CMAKE_SOURCE_DIR}/paging_gateway/service/paging_gateway.service DESTINATION /lib/systemd/system)
# Root's alone, since it may come to hold passwords; systemd hands the service a copy of its own.
install(FILES ${CMAKE_SOURCE_DIR}/paging_gateway/service/paging_gateway.toml DESTINATION /etc/paging_gateway
        PERMISSIONS OWNER_READ OWNER_WRITE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME paging-gateway)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "mervasTX developers <mervastx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mervasTX paging gateway: relays mervasTX's pages over SNPP, WCTP and e-mail")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libcurl4 (>= 7.88), libexpat1 (>= 2.5)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/paging_gateway/service/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

set(MERVASTX_DEB ${CMAKE_BINARY_DIR}/paging-gateway_${PROJECT_VERSION}_amd64.deb)
if(MERVASTX_SANITIZE)
  # The tests' build has sanitizers; the package gets the gateway alone built again without, in a folder below.
  set(_release ${CMAKE_BINARY_DIR}/package-release)
  add_custom_command(
    OUTPUT ${MERVASTX_DEB}
    COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${_release} -DCMAKE_BUILD_TYPE=Release -DMERVASTX_SANITIZE=OFF
            -DMERVASTX_WERROR=${MERVASTX_WERROR} -DMERVASTX_TESTS=OFF > ${_release}.log
    COMMAND ${CMAKE_COMMAND} --build ${_release} --target paging_gateway --parallel 2 >> ${_release}.log
    COMMAND ${CMAKE_COMMAND} -E chdir ${_release} ${CMAKE_CPACK_COMMAND} -G DEB >> ${_release}.log
    COMMAND ${CMAKE_COMMAND} -E copy ${_release}/paging-gateway_${PROJECT_VERSION}_amd64.deb ${MERVASTX_DEB}
    DEPENDS paging_gateway
    COMMENT "Packing paging-gateway_${PROJECT_VERSION}_amd64.deb (a release build of the gateway; see ${_release}.log)"
    VERBATIM)
else()
  add_custom_command(
    OUTPUT ${MERVASTX_DEB}
    COMMAND ${CMAKE_CPACK_COMMAND} -G DEB
    DEPENDS paging_gateway
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Packing paging-gateway_${PROJECT_VERSION}_amd64.deb"
    VERBATIM)
endif()
add_custom_target(debian_package ALL DEPENDS ${MERVASTX_DEB})
