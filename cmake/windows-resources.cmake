# The resources every Windows program carries, compiled by mingw's windres:
# the icon the asset generator draws (skyward.ico), an application manifest
# (per-monitor DPI awareness, UTF-8 as the active code page, the supported
# versions of Windows) and version information from the project's version.
#   windows_resources(TARGET "description")
function(windows_resources target description)
  set(PROGRAM ${target})
  set(DESCRIPTION "${description}")
  set(WINDOWS_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  set(ICON_FILE ${CMAKE_BINARY_DIR}/skyward.ico)
  set(MANIFEST_FILE ${CMAKE_BINARY_DIR}/resources/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows.manifest.in ${MANIFEST_FILE} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-resources.rc.in
    ${CMAKE_BINARY_DIR}/resources/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  # windres reads the icon and the manifest: a new icon rebuilds the resources.
  set_source_files_properties(${CMAKE_BINARY_DIR}/resources/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${ICON_FILE};${MANIFEST_FILE}")
endfunction()
