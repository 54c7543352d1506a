# The zip a Windows user gets: the program, the local paging gateway, and the readme the welcome box
# points to, all at the top of the archive so that they unpack side by side.

# The release's number (the program still greets as v.06).
set(MERVASTX_RELEASE ${PROJECT_VERSION})
set(MERVASTX_ZIP ${CMAKE_BINARY_DIR}/mervasTX-${MERVASTX_RELEASE}-win32.zip)
set(_stage ${CMAKE_BINARY_DIR}/package)

# A zip of an earlier release left in the build folder would be taken for this one.
file(GLOB _earlier_zips ${CMAKE_BINARY_DIR}/mervasTX-*-win32.zip)
list(REMOVE_ITEM _earlier_zips ${MERVASTX_ZIP})
if(_earlier_zips)
  file(REMOVE ${_earlier_zips})
endif()

# Notepad wants CR LF; the readme names the carriers' servers this build sends to.
configure_file(${CMAKE_SOURCE_DIR}/res/readme.txt.in ${_stage}/readme.txt @ONLY NEWLINE_STYLE CRLF)

add_custom_command(
  OUTPUT ${MERVASTX_ZIP}
  COMMAND ${CMAKE_STRIP} --strip-all -o ${_stage}/mervasTX.exe $<TARGET_FILE:mervasTX>
  COMMAND ${CMAKE_STRIP} --strip-all -o ${_stage}/paging_gateway.exe $<TARGET_FILE:paging_gateway>
  COMMAND ${CMAKE_COMMAND} -E rm -f ${MERVASTX_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${_stage}
          ${CMAKE_COMMAND} -E tar cf ${MERVASTX_ZIP} --format=zip readme.txt mervasTX.exe paging_gateway.exe
  DEPENDS mervasTX paging_gateway ${_stage}/readme.txt
  COMMENT "Packing mervasTX-${MERVASTX_RELEASE}-win32.zip"
  VERBATIM)
add_custom_target(release_zip ALL DEPENDS ${MERVASTX_ZIP})
