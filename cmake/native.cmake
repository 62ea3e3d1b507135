# The JSON reader is simdjson's On-Demand API, compiled into our own code from
# its header; it picks its kernels from the instructions the compiler may
# use, and without target flags that is the portable byte-at-a-time one.
# CORVELLA_NATIVE builds every C++ file for the x86-64 level of Haswell and
# later processors (AVX2, BMI1, BMI2, LZCNT, POPCNT, PCLMULQDQ), which gives
# the reader its AVX2 kernels. It is on by default when the configuring
# machine has those instructions and the compiler takes the flags; binaries
# built with it do not run on processors without them, so turn it off
# (-DCORVELLA_NATIVE=OFF) to build for such a machine.
set(CORVELLA_NATIVE_FLAGS -mavx2 -mbmi -mbmi2 -mlzcnt -mpopcnt -mpclmul)
list(JOIN CORVELLA_NATIVE_FLAGS " " _corvella_native_flag_text)

set(_corvella_native_default OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND NOT CMAKE_CROSSCOMPILING)
  include(CheckCXXSourceRuns)
  set(CMAKE_REQUIRED_FLAGS "${_corvella_native_flag_text}")
  set(CMAKE_REQUIRED_QUIET ON)
  # Asks the processor, and the operating system for the AVX register state,
  # rather than trusting the compiler's defaults.
  check_cxx_source_runs([[
    #include <cpuid.h>
    int main()
    {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d))
            return 1;
        bool const basic = (c & bit_PCLMUL) && (c & bit_POPCNT) && (c & bit_OSXSAVE) && (c & bit_AVX);
        if (!basic)
            return 1;
        unsigned low = 0, high = 0;
        __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        if ((low & 0x6U) != 0x6U)
            return 1;
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_AVX2) || !(b & bit_BMI) || !(b & bit_BMI2))
            return 1;
        if (!__get_cpuid(0x80000001U, &a, &b, &c, &d) || !(c & bit_LZCNT))
            return 1;
        return 0;
    }
  ]] CORVELLA_MACHINE_HAS_NATIVE_SET)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_QUIET)
  if(CORVELLA_MACHINE_HAS_NATIVE_SET)
    set(_corvella_native_default ON)
  endif()
endif()

option(CORVELLA_NATIVE "Build for x86-64 processors with AVX2, BMI2, LZCNT and PCLMULQDQ (SIMD JSON reading)"
       ${_corvella_native_default})
if(CORVELLA_NATIVE)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${CORVELLA_NATIVE_FLAGS}>")
  message(STATUS "CORVELLA_NATIVE: C++ built with ${_corvella_native_flag_text}")
else()
  message(STATUS "CORVELLA_NATIVE: off, portable x86-64 build")
endif()
