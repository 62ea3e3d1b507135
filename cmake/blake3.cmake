# BLAKE3 is built from the official C sources that Debian ships inside the
# librust-blake3-dev package; nothing is downloaded.
file(GLOB _blake3_candidates LIST_DIRECTORIES true "/usr/share/cargo/registry/blake3-*/c")
set(BLAKE3_C_DIR "" CACHE PATH "Folder holding the BLAKE3 C sources (blake3.c)")
if(NOT BLAKE3_C_DIR)
  foreach(candidate IN LISTS _blake3_candidates)
    if(EXISTS "${candidate}/blake3.c")
      set(BLAKE3_C_DIR "${candidate}")
    endif()
  endforeach()
endif()
if(NOT BLAKE3_C_DIR OR NOT EXISTS "${BLAKE3_C_DIR}/blake3.c")
  message(FATAL_ERROR "BLAKE3 C sources not found: install the Debian package librust-blake3-dev "
                      "(scripts/bootstrap.sh does) or set BLAKE3_C_DIR")
endif()
set(_blake3_sources ${BLAKE3_C_DIR}/blake3.c ${BLAKE3_C_DIR}/blake3_dispatch.c ${BLAKE3_C_DIR}/blake3_portable.c)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  list(APPEND _blake3_sources
    ${BLAKE3_C_DIR}/blake3_sse2_x86-64_unix.S
    ${BLAKE3_C_DIR}/blake3_sse41_x86-64_unix.S
    ${BLAKE3_C_DIR}/blake3_avx2_x86-64_unix.S
    ${BLAKE3_C_DIR}/blake3_avx512_x86-64_unix.S)
  add_library(blake3 STATIC ${_blake3_sources})
else()
  add_library(blake3 STATIC ${_blake3_sources})
  target_compile_definitions(blake3 PRIVATE BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()
set_target_properties(blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(blake3 SYSTEM PUBLIC ${BLAKE3_C_DIR})
