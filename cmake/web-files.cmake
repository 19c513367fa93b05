# web-files.cmake: fills the site folder, exactly what a static host serves:
#   index.html, webgl.js   the page and its WebGL context adapter
#   poster.png             a still of the film (POSTER, made by the native
#                          demo-capture), shown while the page loads
#   skyward.js.gz, skyward.wasm.gz, assets/*.gz
#                          the program and the eight asset files, gzip-
#                          compressed; the page unpacks them itself, so any
#                          server that sends files as they are will do
#   files.json             names, paths and sent byte sizes of the downloads,
#                          so that the page's progress bar counts real bytes
# Run with cmake -DASSET_DIR=... -DBUILD=... -DOUT=... -DSOURCE=... -DPOSTER=...
# -P web-files.cmake. The asset names come from the film's own list in
# film/asset_files.h. The folder is made afresh, so nothing stale is served.
file(READ "${SOURCE}/film/asset_files.h" asset_header)
string(REGEX MATCHALL "\"[a-z-]+\\.(obj|tga)\"" asset_names "${asset_header}")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}/assets")
file(COPY "${SOURCE}/programs/web/index.html" "${SOURCE}/programs/web/webgl.js"
     DESTINATION "${OUT}")
if(NOT EXISTS "${POSTER}")
  message(FATAL_ERROR "cannot copy the poster ${POSTER}: no such file (scripts/web.sh makes it)")
endif()
configure_file("${POSTER}" "${OUT}/poster.png" COPYONLY)

# Writes the gzip-compressed copy of FROM as OUT/PATH and appends its JSON
# entry to the text in the variable list_name.
function(add_download list_name name from path)
  # The raw format with one member is a plain gzip stream of the file.
  file(ARCHIVE_CREATE OUTPUT "${OUT}/${path}" PATHS "${from}" FORMAT raw COMPRESSION GZip
       COMPRESSION_LEVEL 9)
  file(SIZE "${OUT}/${path}" bytes)
  set(entry "    {\"name\": \"${name}\", \"path\": \"${path}\", \"bytes\": ${bytes}}")
  if(${list_name})
    set(entry "${${list_name}},\n${entry}")
  endif()
  set(${list_name} "${entry}" PARENT_SCOPE)
endfunction()

set(program_entries "")
foreach(name skyward.js skyward.wasm)
  add_download(program_entries ${name} "${BUILD}/${name}" "${name}.gz")
endforeach()
set(asset_entries "")
foreach(quoted IN LISTS asset_names)
  string(REPLACE "\"" "" name "${quoted}")
  if(NOT EXISTS "${ASSET_DIR}/${name}")
    message(FATAL_ERROR "cannot copy ${ASSET_DIR}/${name}: no such file (build the native film first)")
  endif()
  add_download(asset_entries ${name} "${ASSET_DIR}/${name}" "assets/${name}.gz")
endforeach()
file(WRITE "${OUT}/files.json"
     "{\n  \"program\": [\n${program_entries}\n  ],\n  \"assets\": [\n${asset_entries}\n  ]\n}\n")
