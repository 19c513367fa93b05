# What `cmake --install` puts where and how CPack packs it: on Windows a zip
# to unpack and double-click (programs, assets, read-me and notices side by
# side); elsewhere a Debian package (cmake/debian.cmake). scripts/package.sh
# makes both. The version is the project's.
set(CPACK_PACKAGE_NAME skyward)
set(CPACK_PACKAGE_VENDOR "The skyward authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time computer-graphics film")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(film_programs)
foreach(program IN ITEMS demo1080 demo720 demo-capture demo-view)
  if(TARGET ${program})
    list(APPEND film_programs ${program})
  endif()
endforeach()
set(film_asset_files ${film_asset_names})
list(TRANSFORM film_asset_files PREPEND ${CMAKE_BINARY_DIR}/)

if(WIN32)
  # The notices of the statically linked libraries come with their builds
  # (scripts/windows/deps.sh puts them in <prefix>/notices).
  set(WINDOWS_NOTICES "" CACHE PATH "Folder with the notices of the libraries linked statically")
  install(TARGETS ${film_programs} RUNTIME DESTINATION .)
  install(FILES ${film_asset_files} DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
    ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt
    COPYONLY)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
  if(WINDOWS_NOTICES)
    install(DIRECTORY ${WINDOWS_NOTICES}/ DESTINATION notices)
  endif()
  # The toolchain's runtime linked into every program: the MinGW-w64 C
  # runtime and threads, and GCC's support and C++ libraries.
  foreach(runtime IN ITEMS mingw-w64-x86-64-dev gcc-mingw-w64-base)
    if(EXISTS /usr/share/doc/${runtime}/copyright)
      install(FILES /usr/share/doc/${runtime}/copyright DESTINATION notices
        RENAME ${runtime}.txt)
    endif()
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME skyward-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/debian.cmake)
endif()
include(CPack)
