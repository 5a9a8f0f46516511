# Sanitizer builds. VELQUIST_SANITIZE is a comma-separated list handed to -fsanitize for every
# target in the tree, e.g. "address,undefined" or "thread". Included before any target is made,
# so the flags reach the libraries, the programs the tests start and the tests alike.
set(VELQUIST_SANITIZE "" CACHE STRING "Sanitizers for every target: address,undefined | thread")

# The fuzz harnesses: every library is compiled for libFuzzer's coverage, with ASan and UBSan.
option(VELQUIST_BUILD_FUZZ "Build the libFuzzer harnesses in fuzz/ (clang only)" OFF)

if(VELQUIST_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELQUIST_BUILD_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(VELQUIST_SANITIZE STREQUAL "")
    set(VELQUIST_SANITIZE "address,undefined")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(NOT VELQUIST_SANITIZE STREQUAL "")
  string(REPLACE "," ";" velquist_sanitizers "${VELQUIST_SANITIZE}")
  foreach(name IN LISTS velquist_sanitizers)
    if(NOT name MATCHES "^(address|undefined|thread|leak)$")
      message(FATAL_ERROR "VELQUIST_SANITIZE: unknown sanitizer '${name}'")
    endif()
  endforeach()
  if("thread" IN_LIST velquist_sanitizers AND
     ("address" IN_LIST velquist_sanitizers OR "leak" IN_LIST velquist_sanitizers))
    message(FATAL_ERROR "VELQUIST_SANITIZE: thread cannot be combined with address or leak")
  endif()

  # Whole stack traces, and a finding ends the program with an error instead of a message only.
  add_compile_options(-fsanitize=${VELQUIST_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${VELQUIST_SANITIZE})
  if("undefined" IN_LIST velquist_sanitizers)
    add_compile_options(-fno-sanitize-recover=all)
    add_link_options(-fno-sanitize-recover=all)
  endif()
  message(STATUS "Sanitizers: ${VELQUIST_SANITIZE}")
endif()
