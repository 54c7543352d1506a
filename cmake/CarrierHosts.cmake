# Carriers' paging servers and the Ameritech form e-mail: build-time settings, checked here
# so that a value that would not fit its field or would break the request line never builds.

set(_mervastx_host_vars AMERITECH ATT CINGULAR SPRINT SUNCOM VERIZON)
foreach(_carrier IN LISTS _mervastx_host_vars)
  set(MERVASTX_HOST_${_carrier} "localhost" CACHE STRING "Paging web server of carrier ${_carrier}")
  set(_value "${MERVASTX_HOST_${_carrier}}")
  string(LENGTH "${_value}" _length)
  if(_length EQUAL 0 OR _length GREATER 49)
    message(FATAL_ERROR "MERVASTX_HOST_${_carrier}=\"${_value}\": a host name needs 1 to 49 characters "
                        "(it is stored in a 50-byte field); this one has ${_length}.")
  endif()
  if(NOT _value MATCHES "^[A-Za-z0-9.-]+$")
    message(FATAL_ERROR "MERVASTX_HOST_${_carrier}=\"${_value}\": a host name may hold only letters, digits, "
                        "'.' and '-'.")
  endif()
endforeach()

set(MERVASTX_FORM_EMAIL "pager@example.com" CACHE STRING "E-mail address sent in the Ameritech paging form")
string(LENGTH "${MERVASTX_FORM_EMAIL}" _length)
if(_length EQUAL 0 OR _length GREATER 64)
  message(FATAL_ERROR "MERVASTX_FORM_EMAIL=\"${MERVASTX_FORM_EMAIL}\": the form e-mail needs 1 to 64 characters; "
                      "this one has ${_length}.")
endif()
if(NOT MERVASTX_FORM_EMAIL MATCHES "^[A-Za-z0-9._~@-]+$")
  message(FATAL_ERROR "MERVASTX_FORM_EMAIL=\"${MERVASTX_FORM_EMAIL}\": the form e-mail goes into the request line "
                      "as it is, so it may hold only letters, digits, '@', '.', '_', '~' and '-'.")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/carrier_hosts.h.in ${CMAKE_BINARY_DIR}/generated/carrier_hosts.h @ONLY)
