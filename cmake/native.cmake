# CORVELLA_NATIVE builds every C++ file for the x86-64 level of Haswell and
# later processors (AVX2, BMI1, BMI2, LZCNT, POPCNT, PCLMULQDQ). simdjson's
# On-Demand reader, compiled into our own code from its header, then uses its
# AVX2 kernels instead of the portable ones. The heavy stages already choose
# their kernels at run time inside libsimdjson, so the gain is small (well
# under 1% of the instructions of loading a large state file), while the
# binaries stop running on older processors: the option is off by default.
option(CORVELLA_NATIVE "Build for x86-64 processors with AVX2, BMI2, LZCNT and PCLMULQDQ" OFF)

set(CORVELLA_NATIVE_FLAGS -mavx2 -mbmi -mbmi2 -mlzcnt -mpopcnt -mpclmul)
list(JOIN CORVELLA_NATIVE_FLAGS " " _corvella_native_flag_text)

if(CORVELLA_NATIVE)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    message(FATAL_ERROR "CORVELLA_NATIVE needs an x86-64 target, not ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
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
  if(NOT CORVELLA_MACHINE_HAS_NATIVE_SET_COMPILED)
    message(FATAL_ERROR "CORVELLA_NATIVE: the compiler does not take ${_corvella_native_flag_text}")
  endif()
  if(NOT CORVELLA_MACHINE_HAS_NATIVE_SET)
    message(WARNING "CORVELLA_NATIVE: this machine lacks some of ${_corvella_native_flag_text}; "
                    "the binaries built here will not run on it")
  endif()
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${CORVELLA_NATIVE_FLAGS}>")
  message(STATUS "CORVELLA_NATIVE: C++ built with ${_corvella_native_flag_text}")
endif()
