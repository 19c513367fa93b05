# Checking builds, each one option of the configuration:
#   FILM_SANITIZE  AddressSanitizer (with LeakSanitizer) and
#                  UndefinedBehaviorSanitizer in everything built; any
#                  undefined behaviour stops the program.
#   FILM_GL_DEBUG  a debug GL context, and a report on stderr of every GL
#                  error with the frame stage that raised it.
#   FILM_FUZZ      the libFuzzer harnesses of fuzz/ (needs clang); the
#                  libraries get the fuzzer's coverage instrumentation.
option(FILM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(FILM_GL_DEBUG "Report GL errors with the frame stage that raised them" OFF)
option(FILM_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)
# The sanitizers of a checking build. A fuzzing build may drop address to
# run faster where a library's large allocations make it slow.
set(FILM_SANITIZERS "address,undefined" CACHE STRING "Sanitizers of a checking build")

if(FILM_SANITIZE OR FILM_FUZZ)
  add_compile_options(-fsanitize=${FILM_SANITIZERS} -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${FILM_SANITIZERS})
endif()

if(FILM_GL_DEBUG)
  add_compile_definitions(FILM_GL_DEBUG=1)
endif()

if(FILM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "FILM_FUZZ needs clang (configure with CXX=clang++-14 CC=clang-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
