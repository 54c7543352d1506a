# What a Windows user gets: the zip for portable use, and two Windows Installer packages, the program per
# user and the gateway per machine (built with wixl from Debian's msitools).

# The release's number (the program still greets as v.06).
set(MERVASTX_RELEASE ${PROJECT_VERSION})
set(MERVASTX_ZIP ${CMAKE_BINARY_DIR}/mervasTX-${MERVASTX_RELEASE}-win32.zip)
set(MERVASTX_PROGRAM_MSI ${CMAKE_BINARY_DIR}/mervasTX-${MERVASTX_RELEASE}.msi)
set(MERVASTX_GATEWAY_MSI ${CMAKE_BINARY_DIR}/mervasTX-gateway-${MERVASTX_RELEASE}.msi)
set(MERVASTX_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/package)
set(_stage ${MERVASTX_PACKAGE_STAGE})

# Packages of an earlier release left in the build folder would be taken for this one.
file(GLOB _earlier ${CMAKE_BINARY_DIR}/mervasTX-*-win32.zip ${CMAKE_BINARY_DIR}/mervasTX-*.msi)
list(REMOVE_ITEM _earlier ${MERVASTX_ZIP} ${MERVASTX_PROGRAM_MSI} ${MERVASTX_GATEWAY_MSI})
if(_earlier)
  file(REMOVE ${_earlier})
endif()

# Notepad wants CR LF; the readme names the carriers' servers this build sends to.
configure_file(${CMAKE_SOURCE_DIR}/res/readme.txt.in ${_stage}/readme.txt @ONLY NEWLINE_STYLE CRLF)
file(READ ${CMAKE_SOURCE_DIR}/paging_gateway/service/paging_gateway.toml _example)
string(REPLACE "\n" "\r\n" _example "${_example}")
file(WRITE ${_stage}/paging_gateway.example.toml "${_example}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/paging_gateway/service/paging_gateway.toml)
# The Start menu's "Paging gateway status": the service's status page, where the program sends.
file(WRITE "${_stage}/Paging gateway status.url" "[InternetShortcut]\r\nURL=http://127.0.0.1/status\r\n")
configure_file(${CMAKE_SOURCE_DIR}/res/mervasTX.ico ${_stage}/mervasTX.ico COPYONLY)

add_custom_command(
  OUTPUT ${_stage}/mervasTX.exe ${_stage}/paging_gateway.exe
  COMMAND ${CMAKE_STRIP} --strip-all -o ${_stage}/mervasTX.exe $<TARGET_FILE:mervasTX>
  COMMAND ${CMAKE_STRIP} --strip-all -o ${_stage}/paging_gateway.exe $<TARGET_FILE:paging_gateway>
  DEPENDS mervasTX paging_gateway
  VERBATIM)

add_custom_command(
  OUTPUT ${MERVASTX_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${MERVASTX_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${_stage}
          ${CMAKE_COMMAND} -E tar cf ${MERVASTX_ZIP} --format=zip readme.txt mervasTX.exe paging_gateway.exe
          paging_gateway.example.toml
  DEPENDS ${_stage}/mervasTX.exe ${_stage}/paging_gateway.exe ${_stage}/readme.txt ${_stage}/paging_gateway.example.toml
  COMMENT "Packing mervasTX-${MERVASTX_RELEASE}-win32.zip"
  VERBATIM)
add_custom_target(release_zip ALL DEPENDS ${MERVASTX_ZIP})

# res/installer/build_msi.sh runs wixl in the stage and mends the tables as the package's .sql says.
find_program(MERVASTX_WIXL wixl REQUIRED)
find_program(MERVASTX_MSIBUILD msibuild REQUIRED)
set(MERVASTX_INSTALLER_DIR ${CMAKE_SOURCE_DIR}/res/installer)
set(_installer ${MERVASTX_INSTALLER_DIR})
add_custom_command(
  OUTPUT ${MERVASTX_PROGRAM_MSI}
  COMMAND ${_installer}/build_msi.sh ${_installer}/program.wxs ${_stage} ${MERVASTX_RELEASE} ${MERVASTX_PROGRAM_MSI}
  DEPENDS ${_installer}/build_msi.sh ${_installer}/program.wxs ${_stage}/mervasTX.exe ${_stage}/readme.txt
          ${_stage}/mervasTX.ico
  COMMENT "Packing mervasTX-${MERVASTX_RELEASE}.msi"
  VERBATIM)
add_custom_command(
  OUTPUT ${MERVASTX_GATEWAY_MSI}
  COMMAND ${_installer}/build_msi.sh ${_installer}/gateway.wxs ${_stage} ${MERVASTX_RELEASE} ${MERVASTX_GATEWAY_MSI}
  DEPENDS ${_installer}/build_msi.sh ${_installer}/gateway.wxs ${_installer}/gateway.sql ${_stage}/paging_gateway.exe
          ${_stage}/readme.txt ${_stage}/paging_gateway.example.toml ${_stage}/mervasTX.ico
  COMMENT "Packing mervasTX-gateway-${MERVASTX_RELEASE}.msi"
  VERBATIM)
add_custom_target(installers ALL DEPENDS ${MERVASTX_PROGRAM_MSI} ${MERVASTX_GATEWAY_MSI})
