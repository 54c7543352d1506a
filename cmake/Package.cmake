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

# wixl finds the files a package names in its working folder.
find_program(MERVASTX_WIXL wixl REQUIRED)
find_program(MERVASTX_MSIBUILD msibuild REQUIRED)
set(_installer ${CMAKE_SOURCE_DIR}/res/installer)
add_custom_command(
  OUTPUT ${MERVASTX_PROGRAM_MSI}
  COMMAND ${MERVASTX_WIXL} -a x86 -D Version=${MERVASTX_RELEASE} -o ${MERVASTX_PROGRAM_MSI} ${_installer}/program.wxs
  WORKING_DIRECTORY ${_stage}
  DEPENDS ${_installer}/program.wxs ${_stage}/mervasTX.exe ${_stage}/readme.txt ${_stage}/mervasTX.ico
  COMMENT "Packing mervasTX-${MERVASTX_RELEASE}.msi"
  VERBATIM)
# What wixl 0.101 cannot write, set in the tables afterwards: RELAY is secure, so that it reaches the elevated
# part of an install that a user started; the rollback action runs only in a rollback (0x100 in-script
# rollback, 0x400, 0x800 no impersonation, 0x40 ignore its exit code, 18 an installed exe); an upgrade
# removes the older version, service included, right after InstallValidate, before this one installs anything.
add_custom_command(
  OUTPUT ${MERVASTX_GATEWAY_MSI}
  COMMAND ${MERVASTX_WIXL} -a x86 -D Version=${MERVASTX_RELEASE} -o ${MERVASTX_GATEWAY_MSI} ${_installer}/gateway.wxs
  COMMAND ${MERVASTX_MSIBUILD} ${MERVASTX_GATEWAY_MSI}
          -q "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;RELAY' WHERE `Property` = 'SecureCustomProperties'"
          -q "UPDATE `CustomAction` SET `Type` = 3410 WHERE `Action` = 'RollBackService'"
          -q "UPDATE `InstallExecuteSequence` SET `Sequence` = 1450 WHERE `Action` = 'RemoveExistingProducts'"
  WORKING_DIRECTORY ${_stage}
  DEPENDS ${_installer}/gateway.wxs ${_stage}/paging_gateway.exe ${_stage}/readme.txt
          ${_stage}/paging_gateway.example.toml ${_stage}/mervasTX.ico
  COMMENT "Packing mervasTX-gateway-${MERVASTX_RELEASE}.msi"
  VERBATIM)
add_custom_target(installers ALL DEPENDS ${MERVASTX_PROGRAM_MSI} ${MERVASTX_GATEWAY_MSI})
