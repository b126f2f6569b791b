# Authenticode signing of the shipped program, with osslsigncode, SHA-256.
# Included: sign_program(TARGET) signs TARGET's file after each link when
# SIGN_PKCS12 and SIGN_PASSWORD_FILE are set, and does nothing otherwise.
# Run as a script (cmake -DPROGRAM=... -DPKCS12=... -DPASSWORD_FILE=...
# [-DTIMESTAMP_URL=...] [-DDESCRIPTION=...] [-DOSSLSIGNCODE=...] -P signing.cmake):
# signs PROGRAM in place; that is what the build step runs.

if(CMAKE_SCRIPT_MODE_FILE)
  foreach(name PROGRAM PKCS12 PASSWORD_FILE)
    if(NOT ${name})
      message(FATAL_ERROR "signing: ${name} is not set")
    endif()
  endforeach()
  foreach(file "${PROGRAM}" "${PKCS12}" "${PASSWORD_FILE}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "signing: ${file} does not exist")
    endif()
  endforeach()
  if(NOT OSSLSIGNCODE)
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  endif()
  set(options -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}" -h sha256)
  if(DESCRIPTION)
    list(APPEND options -n "${DESCRIPTION}")
  endif()
  if(TIMESTAMP_URL)
    # RFC 3161: the signature stays valid after the certificate expires.
    list(APPEND options -ts "${TIMESTAMP_URL}")
  endif()
  # Signed beside the program and moved into place: a failed signing leaves
  # the program as the linker made it, never half a file.
  set(signing "${PROGRAM}.signing")
  file(REMOVE "${signing}")
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${PROGRAM}" -out "${signing}"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT EXISTS "${signing}")
    file(REMOVE "${signing}")
    message(FATAL_ERROR "signing: osslsigncode could not sign ${PROGRAM} (${result}):\n${output}")
  endif()
  file(RENAME "${signing}" "${PROGRAM}")
  message(STATUS "signing: signed ${PROGRAM}")
  return()
endif()

set(SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key (.p12/.pfx); signs the installer when set")
set(SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of SIGN_PKCS12")
set(SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping server for the signature (optional)")

function(sign_program target)
  if(NOT SIGN_PKCS12 AND NOT SIGN_PASSWORD_FILE)
    return()
  endif()
  if(NOT SIGN_PKCS12 OR NOT SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "Signing needs both SIGN_PKCS12 and SIGN_PASSWORD_FILE")
  endif()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (scripts/setup installs it)")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}"
            "-DPROGRAM=$<TARGET_FILE:${target}>"
            "-DPKCS12=${SIGN_PKCS12}"
            "-DPASSWORD_FILE=${SIGN_PASSWORD_FILE}"
            "-DTIMESTAMP_URL=${SIGN_TIMESTAMP_URL}"
            "-DDESCRIPTION=$<TARGET_FILE_BASE_NAME:${target}>"
            "-DOSSLSIGNCODE=${OSSLSIGNCODE}"
            -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
