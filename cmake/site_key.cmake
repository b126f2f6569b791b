# The site's public signing key. With it, the installer takes only a file list
# that the matching private key signed (tools/publish --sign-key), and checks
# every file against the list; without it, it takes the list as it comes.
set(SITE_SIGNING_KEY "" CACHE FILEPATH
    "EC P-256 public key (PEM, openssl ec -pubout) that the site's file list is signed with; empty for none")

# add_site_key_resource(NAME PEM): an object library NAME whose resource embeds
# the key in PEM. A file that is no P-256 public key stops the configuration.
function(add_site_key_resource name pem)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${name}")
  file(MAKE_DIRECTORY "${dir}")
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/scripts/site_key.py" "${pem}" "${dir}/site_key.bin"
    RESULT_VARIABLE failed ERROR_VARIABLE why)
  if(failed)
    message(FATAL_ERROR "SITE_SIGNING_KEY: ${why}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
  set(SITE_KEY_BIN "${dir}/site_key.bin")
  configure_file("${PROJECT_SOURCE_DIR}/window/site_key.rc.in" "${dir}/site_key.rc" @ONLY)
  add_library(${name} OBJECT "${dir}/site_key.rc")
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/window")
  set_source_files_properties("${dir}/site_key.rc" PROPERTIES OBJECT_DEPENDS "${dir}/site_key.bin")
endfunction()
