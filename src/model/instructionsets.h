#pragma once

// The instruction sets of the draw scans, each named once: the processor
// features a scan's file is compiled for (CLEFTSIM_BEGIN_INSTRUCTIONS, one
// statement at its top) are the features the program asks the processor
// for before it offers the scan (processorHas), from the same list.

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CLEFTSIM_X86_VECTOR 1
#endif

// The features of each vector scan, as a target list of GCC and Clang. The
// bit instructions (bit deposit, counts of bits, lowest bit cleared) come
// with every processor that has AVX2.
#define CLEFTSIM_AVX2_FEATURES "avx2,bmi,bmi2,popcnt"
#define CLEFTSIM_AVX512_FEATURES "avx512f,bmi,bmi2,popcnt"

// Compiles every function defined from here to CLEFTSIM_END_INSTRUCTIONS
// for the features of the list, lambdas and templates instantiated there
// included, so that the kernels inline into the loop that calls them. A
// file includes every header it needs before it: a function of a header
// compiled here would differ from its copies elsewhere.
#define CLEFTSIM_PRAGMA(...) _Pragma(#__VA_ARGS__)
#if defined(__clang__)
#define CLEFTSIM_BEGIN_INSTRUCTIONS(features)                                                                \
    CLEFTSIM_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define CLEFTSIM_END_INSTRUCTIONS CLEFTSIM_PRAGMA(clang attribute pop)
#else
#define CLEFTSIM_BEGIN_INSTRUCTIONS(features)                                                                \
    CLEFTSIM_PRAGMA(GCC push_options) CLEFTSIM_PRAGMA(GCC target(features))
#define CLEFTSIM_END_INSTRUCTIONS CLEFTSIM_PRAGMA(GCC pop_options)
#endif

namespace cleftsim::detail {

// Whether this processor has every feature of the comma-separated list (an
// empty list: every processor); false for a name it does not know.
bool processorHas(const char *features);

} // namespace cleftsim::detail
