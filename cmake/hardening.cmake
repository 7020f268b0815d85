# Hardening builds, off by default: OVRA_SANITIZE instruments everything with
# ASan + UBSan (scripts/sanitize-tests), OVRA_FUZZ adds the libFuzzer targets
# of fuzz/ on top of the same instrumentation (clang only; scripts/fuzz-commands).
option(OVRA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(OVRA_FUZZ "Build the libFuzzer targets in fuzz/ (clang; implies OVRA_SANITIZE)" OFF)

if(OVRA_SANITIZE OR OVRA_FUZZ)
    # Any undefined behaviour aborts: a report must fail the run, never scroll by.
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(OVRA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "OVRA_FUZZ needs clang (libFuzzer); configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage for the libraries; only the fuzz executables link the fuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_subdirectory(fuzz)
endif()
