# Hardening builds, off by default: OVRA_SANITIZE instruments everything with
# ASan + UBSan (scripts/sanitize-tests), OVRA_FUZZ adds the libFuzzer targets
# of fuzz/ on top of the same instrumentation (clang only; scripts/fuzz-commands),
# OVRA_TSAN builds the many-thread driver of fuzz/ with ThreadSanitizer
# (scripts/thread-stress).
option(OVRA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(OVRA_FUZZ "Build the libFuzzer targets in fuzz/ (clang; implies OVRA_SANITIZE)" OFF)
option(OVRA_TSAN "Build fuzz/thread_stress with ThreadSanitizer" OFF)

if(OVRA_TSAN AND (OVRA_SANITIZE OR OVRA_FUZZ))
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: use a build directory of its own")
endif()

if(OVRA_SANITIZE OR OVRA_FUZZ)
    # Any undefined behaviour aborts: a report must fail the run, never scroll by.
    # gcc leaves float-to-integer overflow out of "undefined"; it is named here
    # (division by zero is not: it is how the panels make infinities).
    add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()

if(OVRA_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

if(OVRA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "OVRA_FUZZ needs clang (libFuzzer); configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage for the libraries; only the fuzz executables link the fuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(OVRA_FUZZ OR OVRA_TSAN)
    add_subdirectory(fuzz)
endif()
