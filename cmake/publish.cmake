# A product's site laid out by tools/publish at build time: the product folder
# is assembled from a tree of files and the product's built program, then
# published under SITE/Updates/<product>/.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(PUBLISH_TOOL "${CMAKE_CURRENT_LIST_DIR}/../tools/publish")
cmake_path(NORMAL_PATH PUBLISH_TOOL)
# The launcher and the package it runs.
file(GLOB PUBLISH_TOOL_FILES CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/../tools/publishing/*.py")
list(APPEND PUBLISH_TOOL_FILES "${PUBLISH_TOOL}")

# add_published_site(TARGET PROGRAM FILES [PRODUCT_FOLDER dir] [SITE dir])
# TARGET (built by default) lays out SITE (default: <build>/demo-site) from
# the tree FILES plus the program target PROGRAM, assembled in PRODUCT_FOLDER
# (default: <current build folder>/product), the folder the site is made from.
function(add_published_site target program files)
  cmake_parse_arguments(ARG "" "PRODUCT_FOLDER;SITE" "" ${ARGN})
  if(NOT ARG_PRODUCT_FOLDER)
    set(ARG_PRODUCT_FOLDER "${CMAKE_CURRENT_BINARY_DIR}/product")
  endif()
  if(NOT ARG_SITE)
    set(ARG_SITE "${CMAKE_BINARY_DIR}/demo-site")
  endif()
  file(GLOB_RECURSE tree CONFIGURE_DEPENDS "${files}/*")
  set(manifest "${ARG_SITE}/Updates/${PRODUCT_NAME}/Resources/${PRODUCT_NAME}.ini")
  # Assembled anew each time, so that a file taken out of the tree leaves
  # the site too.
  add_custom_command(
    OUTPUT "${manifest}"
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${ARG_PRODUCT_FOLDER}"
    COMMAND "${CMAKE_COMMAND}" -E copy_directory "${files}" "${ARG_PRODUCT_FOLDER}"
    COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:${program}>" "${ARG_PRODUCT_FOLDER}/"
    COMMAND Python3::Interpreter "${PUBLISH_TOOL}" "${ARG_PRODUCT_FOLDER}"
            --product "${PRODUCT_NAME}" --out "${ARG_SITE}"
    DEPENDS ${program} ${PUBLISH_TOOL_FILES} ${tree}
    COMMENT "Publishing the ${PRODUCT_NAME} site"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${manifest}")
endfunction()
