# web-files.cmake: copies the asset files next to the web build and writes
# files.json, the list of downloads with their byte sizes. Run with
# cmake -DASSET_DIR=... -DOUT=... -DSOURCE=... -P web-files.cmake
# The asset names come from the film's own list in demo/asset_files.h.
file(READ "${SOURCE}/demo/asset_files.h" asset_header)
string(REGEX MATCHALL "\"[a-z-]+\\.(obj|tga)\"" asset_names "${asset_header}")
set(entries "")
foreach(quoted IN LISTS asset_names)
  string(REPLACE "\"" "" name "${quoted}")
  if(NOT EXISTS "${ASSET_DIR}/${name}")
    message(FATAL_ERROR "cannot copy ${ASSET_DIR}/${name}: no such file (build the native film first)")
  endif()
  file(COPY "${ASSET_DIR}/${name}" DESTINATION "${OUT}/assets")
  file(SIZE "${ASSET_DIR}/${name}" size)
  list(APPEND entries "    {\"name\": \"${name}\", \"bytes\": ${size}}")
endforeach()
file(SIZE "${OUT}/skyward.wasm" wasm_bytes)
file(SIZE "${OUT}/skyward.js" js_bytes)
list(JOIN entries ",\n" asset_json)
file(WRITE "${OUT}/files.json" "{\n  \"program\": [\n    {\"name\": \"skyward.js\", \"bytes\": ${js_bytes}},\n    {\"name\": \"skyward.wasm\", \"bytes\": ${wasm_bytes}}\n  ],\n  \"assets\": [\n${asset_json}\n  ]\n}\n")
