// Whether this compiler builds a function for another instruction set
// (__attribute__((target("avx2"))), target_clones) and lets the library
// choose a build at run time (__builtin_cpu_supports): GCC on x86-64. Elsewhere
// (clang, the page's wasm build) every loop has its baseline build alone.
// Internal to the library: not installed.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TALVO_INSTRUCTION_SET_BUILDS 1
#else
#define TALVO_INSTRUCTION_SET_BUILDS 0
#endif
