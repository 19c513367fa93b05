# web.cmake: the film for web browsers, built with Emscripten (scripts/web.sh
# drives it). Builds the program (programs/web/web.cpp and the shared sources) as
# skyward.js and skyward.wasm, then fills site/ with exactly what is served:
# the page, the program and the assets, compressed (see web-files.cmake).
# The model importer comes from FILM_WEB_DEPS (scripts/web/deps.sh), the
# asset files from FILM_ASSET_DIR (a native build folder), the poster from
# FILM_POSTER (a still demo-capture made).
set(FILM_WEB_DEPS "" CACHE PATH "Prefix holding the importer built for the web")
set(FILM_ASSET_DIR "" CACHE PATH "Folder holding the film's generated asset files")
if(NOT FILM_WEB_DEPS OR NOT EXISTS "${FILM_WEB_DEPS}/lib/libassimp.a")
  message(FATAL_ERROR "FILM_WEB_DEPS must name the prefix made by scripts/web/deps.sh")
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

add_film_libraries(
  TOOLKIT_SOURCES toolkit/system_web.cpp toolkit/files_posix.cpp toolkit/gl_web.cpp
  IMPORTER "${FILM_WEB_DEPS}/lib/libassimp.a" "${FILM_WEB_DEPS}/lib/libminizip.a"
           "${FILM_WEB_DEPS}/lib/libz.a")
# Emscripten's GLEW header predates the ARB name of the anisotropy extension.
target_compile_definitions(toolkit PRIVATE
  "GLEW_ARB_texture_filter_anisotropic=GLEW_GET_VAR(GL_ARB_texture_filter_anisotropic)")
target_include_directories(film SYSTEM PUBLIC "${FILM_WEB_DEPS}/include")

add_executable(skyward programs/web/web.cpp)
target_link_libraries(skyward PRIVATE film)
# WebGL 1 with the fixed-function emulation; the page makes the context (its
# attributes and extensions) and hands it over; files arrive before main runs.
# Asyncify lets the program sleep (give the browser its turn) between the
# steps that make the film's resources (programs/web/web.cpp).
target_link_options(skyward PRIVATE -sASYNCIFY=1
  -sUSE_GLFW=3 -sLEGACY_GL_EMULATION=1 -sGL_PREINITIALIZED_CONTEXT=1
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728 -sFORCE_FILESYSTEM=1
  -sENVIRONMENT=web -sEXPORTED_FUNCTIONS=_main,_web_play,_web_stop,_web_heap_in_use
  -sEXPORTED_RUNTIME_METHODS=FS)

# The site: exactly what is served, in a folder of its own (web-files.cmake).
set(FILM_POSTER "" CACHE FILEPATH "A still of the film (PNG) for the page's poster")
if(NOT FILM_POSTER)
  message(FATAL_ERROR "FILM_POSTER must name a still made by the native demo-capture")
endif()
add_custom_target(site ALL
  COMMAND ${CMAKE_COMMAND} -DASSET_DIR=${FILM_ASSET_DIR} -DBUILD=${CMAKE_CURRENT_BINARY_DIR}
          -DOUT=${CMAKE_CURRENT_BINARY_DIR}/site -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}
          -DPOSTER=${FILM_POSTER} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/web-files.cmake
  VERBATIM)
add_dependencies(site skyward)
