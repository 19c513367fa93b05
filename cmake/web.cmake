# web.cmake: the film for web browsers, built with Emscripten (scripts/web.sh
# drives it). Produces, in the build folder, the page and everything it
# downloads:
#   index.html, webgl.js   the page and its WebGL context adapter (from programs/web/)
#   skyward.js, .wasm      the program (programs/web/web.cpp and the shared sources)
#   assets/                the eight asset files, copied from a native build
#   files.json             names and byte sizes of the downloads, so that the
#                          page's progress bar counts real bytes
# The model importer comes from FILM_WEB_DEPS (scripts/web-deps.sh), the
# asset files from FILM_ASSET_DIR (a native build folder).
set(FILM_WEB_DEPS "" CACHE PATH "Prefix holding the importer built for the web")
set(FILM_ASSET_DIR "" CACHE PATH "Folder holding the film's generated asset files")
if(NOT FILM_WEB_DEPS OR NOT EXISTS "${FILM_WEB_DEPS}/lib/libassimp.a")
  message(FATAL_ERROR "FILM_WEB_DEPS must name the prefix made by scripts/web-deps.sh")
endif()
if(NOT FILM_ASSET_DIR OR NOT EXISTS "${FILM_ASSET_DIR}/ring.obj")
  message(FATAL_ERROR "FILM_ASSET_DIR must name a native build folder holding the asset files")
endif()
find_path(STB_INCLUDE_DIR stb_image.h PATHS /usr/include PATH_SUFFIXES stb NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)

# The model importer reports an unreadable file by throwing: exceptions are
# caught, as in the native build, so that such a file gives its error line.
add_compile_options(-fexceptions)
add_link_options(-fexceptions)

add_library(toolkit STATIC ${toolkit_sources} toolkit/system_web.cpp toolkit/files_posix.cpp
  toolkit/gl_web.cpp)
target_include_directories(toolkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(toolkit SYSTEM PRIVATE ${STB_INCLUDE_DIR})
# Emscripten's GLEW header predates the ARB name of the anisotropy extension.
target_compile_definitions(toolkit PRIVATE
  "GLEW_ARB_texture_filter_anisotropic=GLEW_GET_VAR(GL_ARB_texture_filter_anisotropic)")

add_library(film STATIC ${film_sources})
target_include_directories(film PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(film SYSTEM PRIVATE ${STB_INCLUDE_DIR})
target_include_directories(film SYSTEM PUBLIC "${FILM_WEB_DEPS}/include")
target_link_libraries(film PUBLIC toolkit "${FILM_WEB_DEPS}/lib/libassimp.a"
                      "${FILM_WEB_DEPS}/lib/libminizip.a" "${FILM_WEB_DEPS}/lib/libz.a")
target_link_libraries(toolkit INTERFACE film)
set_target_properties(film toolkit PROPERTIES LINK_INTERFACE_MULTIPLICITY 2)

add_executable(skyward programs/web/web.cpp)
target_link_libraries(skyward PRIVATE film)
# WebGL 1 with the fixed-function emulation; the page makes the context (its
# attributes and extensions) and hands it over; files arrive before main runs.
target_link_options(skyward PRIVATE
  -sUSE_GLFW=3 -sLEGACY_GL_EMULATION=1 -sGL_PREINITIALIZED_CONTEXT=1
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728 -sFORCE_FILESYSTEM=1
  -sENVIRONMENT=web -sEXPORTED_FUNCTIONS=_main,_web_play,_web_stop
  -sEXPORTED_RUNTIME_METHODS=FS)

set(web_out ${CMAKE_CURRENT_BINARY_DIR})
add_custom_command(TARGET skyward POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${web_out}/assets
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/programs/web/index.html
          ${CMAKE_CURRENT_SOURCE_DIR}/programs/web/webgl.js ${web_out}
  COMMAND ${CMAKE_COMMAND} -DASSET_DIR=${FILM_ASSET_DIR} -DOUT=${web_out}
          -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/web-files.cmake
  VERBATIM)
