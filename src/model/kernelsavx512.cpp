// The kernels of the avx512 scan: 16 draws at once, compiled
// with the loop of the peak trials for AVX-512 alone.

#include "model/drawscan.h"
#include "model/instructionsets.h"
#include "model/kernelset.h"
#include "model/peaktrial.h"
#include "model/smallstates.h"
#include "model/stepdecision.h"
#include "model/trialtables.h"
#include "model/trialwork.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#ifdef CLEFTSIM_X86_VECTOR
#include <immintrin.h>

CLEFTSIM_BEGIN_INSTRUCTIONS(CLEFTSIM_AVX512_FEATURES)

#include "model/kernels.h"
#include "model/peakloop.h"

namespace cleftsim::detail::kernels {

namespace {

inline std::uint32_t laneSitesBmi2(std::uint32_t lanes, std::uint32_t sites)
{
    return _pdep_u32(lanes, sites);
}

inline __m512i statesAvx512(__m512i s, int first)
{
    return _mm512_add_epi32(_mm512_mullo_epi32(_mm512_loadu_si512(generatorJumps.mul + first + 1), s),
        _mm512_loadu_si512(generatorJumps.add + first + 1));
}

inline std::uint64_t atLeastAvx512(const double *G, int from, int to, double cut)
{
    const __m512d c = _mm512_set1_pd(cut);
    std::uint64_t mask = 0;
    for (int v = from; v <= to; v += 8) {
        const auto in = static_cast<__mmask8>(to + 1 - v >= 8 ? 0xffu : (1u << (to + 1 - v)) - 1u);
        mask |= std::uint64_t(_mm512_mask_cmp_pd_mask(in, _mm512_maskz_loadu_pd(in, G + v), c, _CMP_GE_OQ))
            << (v - from);
    }
    return mask;
}

// The bounds of up to eight steps at once, gathered from the table, and the
// draws' bounds put together from them in registers: whole aligned vectors,
// which the scan's loads then take as they were stored. (With AVX2 the
// gathers cost more than they save: that scan takes eachBoundsScalar.)
inline int eachBoundsAvx512(const double *G, int from, int last, const std::uint64_t *pairs, double scale,
    double limit, int n, std::uint32_t *out)
{
    const int steps = last - from + 1 < EachBoundSteps ? last - from + 1 : EachBoundSteps;
    const auto in = static_cast<__mmask8>((1u << steps) - 1u);
    const __m512d x = _mm512_mask_min_pd(_mm512_setzero_pd(), in,
        _mm512_mask_mul_pd(
            _mm512_setzero_pd(), in, _mm512_maskz_loadu_pd(in, G + from), _mm512_set1_pd(scale)),
        _mm512_set1_pd(limit));
    static_assert(EachBoundWidth == 8, "a pair's index a shift by three");
    const __m256i pair = _mm512_maskz_cvttpd_epu32(in, x);
    const __m256i index
        = _mm256_add_epi32(_mm256_slli_epi32(_mm256_srli_epi32(pair, 3), 1), _mm256_set1_epi32(1));
    const __m512i e = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), in, index, pairs, 8);
    const unsigned unmade
        = _mm512_mask_cmpeq_epi64_mask(in, e, _mm512_set1_epi64(static_cast<long long>(UnmadeBound)));
    const unsigned none = _mm512_mask_cmpeq_epi64_mask(in, e, _mm512_setzero_si512());
    const int made = __builtin_ctz(none | 1u << steps);
    if ((unmade & ((1u << made) - 1u)) != 0)
        return -1;
    // The bound of step s is the low half of entry s, 32-bit lane 2 s of e.
    // (The masked forms: the plain ones leave lanes undefined that the
    // compiler takes for uninitialized.)
    const std::uint8_t(*of)[16] = eachSteps.of[n];
    for (int d = 0; d < made * n; d += 16) {
        const __m512i step = _mm512_maskz_cvtepu8_epi32(
            0xffff, _mm_loadu_si128(reinterpret_cast<const __m128i *>(of[d / 16])));
        _mm512_store_si512(out + d, _mm512_maskz_permutexvar_epi32(0xffff, _mm512_add_epi32(step, step), e));
    }
    return made;
}

inline std::size_t scanEachAvx512(std::uint32_t seed, std::size_t count, const std::uint32_t *bounds)
{
    const GeneratorJumps &jumps = generatorJumps;
    const __m512i s = _mm512_set1_epi32(static_cast<int>(seed));
    __m512i v0 = statesAvx512(s, 0);
    __m512i v1 = statesAvx512(s, 16);
    const __m512i jumpMul = _mm512_set1_epi32(static_cast<int>(jumps.mul[32]));
    const __m512i jumpAdd = _mm512_set1_epi32(static_cast<int>(jumps.add[32]));
    std::size_t done = 0;
    while (done < count) {
        const std::uint32_t low
            = static_cast<std::uint32_t>(_mm512_cmplt_epu32_mask(v0, _mm512_loadu_si512(bounds + done)))
            | static_cast<std::uint32_t>(_mm512_cmplt_epu32_mask(v1, _mm512_loadu_si512(bounds + done + 16)))
                << 16;
        if (low != 0) {
            const std::size_t at = done + static_cast<std::size_t>(__builtin_ctz(low));
            return at < count ? at : count;
        }
        v0 = _mm512_add_epi32(_mm512_mullo_epi32(v0, jumpMul), jumpAdd);
        v1 = _mm512_add_epi32(_mm512_mullo_epi32(v1, jumpMul), jumpAdd);
        done += 32;
    }
    return count;
}

inline void setQuantaAvx512(double *G, const double *q, int from, int to, double times, double base)
{
    const __m512d f = _mm512_set1_pd(times);
    const __m512d b = _mm512_set1_pd(base);
    for (int v = from & ~7; v < to; v += 8)
        _mm512_store_pd(G + v, _mm512_add_pd(b, _mm512_mul_pd(f, _mm512_loadu_pd(q + v))));
}

inline void stepStatesAvx512(std::uint32_t seed, std::uint32_t *states)
{
    const __m512i s = _mm512_set1_epi32(static_cast<int>(seed));
    _mm512_store_si512(states, statesAvx512(s, 0));
    _mm512_store_si512(states + 16, statesAvx512(s, 16));
}

inline std::uint32_t statesBelowAvx512(const std::uint32_t *states, std::uint32_t threshold)
{
    const __m512i t = _mm512_set1_epi32(static_cast<int>(threshold));
    const std::uint32_t low = _mm512_cmplt_epu32_mask(_mm512_load_si512(states), t);
    const std::uint32_t high = _mm512_cmplt_epu32_mask(_mm512_load_si512(states + 16), t);
    return low | high << 16;
}

inline void addQuantaAvx512(double *G, const double *q, int from, int to, double times)
{
    const __m512d f = _mm512_set1_pd(times);
    for (int v = from & ~7; v < to; v += 8)
        _mm512_store_pd(
            G + v, _mm512_add_pd(_mm512_load_pd(G + v), _mm512_mul_pd(f, _mm512_loadu_pd(q + v))));
}

inline double largestAvx512(const double *G, int from, int to)
{
    // The masked forms throughout: the plain ones leave a lane undefined
    // that the compiler takes for uninitialized.
    __m512d a = _mm512_setzero_pd();
    int v = from;
    for (; v + 8 <= to; v += 8)
        a = _mm512_mask_max_pd(a, 0xff, a, _mm512_loadu_pd(G + v));
    const auto last = static_cast<__mmask8>((1u << (to + 1 - v)) - 1u);
    a = _mm512_mask_max_pd(a, 0xff, a, _mm512_maskz_loadu_pd(last, G + v));
    const __m256d h
        = _mm256_max_pd(_mm512_maskz_extractf64x4_pd(0xff, a, 0), _mm512_maskz_extractf64x4_pd(0xff, a, 1));
    __m128d b = _mm_max_pd(_mm256_castpd256_pd128(h), _mm256_extractf128_pd(h, 1));
    b = _mm_max_sd(b, _mm_unpackhi_pd(b, b));
    return _mm_cvtsd_f64(b);
}

// Four vectors of 16 lanes hold 64 consecutive states; the comparison gives
// one bit per draw, so the first low state is the lowest bit set.
inline std::size_t scanAvx512(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const GeneratorJumps &jumps = generatorJumps;
    const __m512i s = _mm512_set1_epi32(static_cast<int>(seed));
    __m512i v0 = statesAvx512(s, 0);
    __m512i v1 = statesAvx512(s, 16);
    __m512i v2 = statesAvx512(s, 32);
    __m512i v3 = statesAvx512(s, 48);
    const __m512i jumpMul = _mm512_set1_epi32(static_cast<int>(jumps.mul[64]));
    const __m512i jumpAdd = _mm512_set1_epi32(static_cast<int>(jumps.add[64]));
    const __m512i b = _mm512_set1_epi32(static_cast<int>(bound));
    std::size_t done = 0;
    while (done < count) {
        std::uint64_t low = static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v0, b))
            | static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v1, b)) << 16
            | static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v2, b)) << 32
            | static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v3, b)) << 48;
        if (count - done < 64)
            low &= (std::uint64_t(1) << (count - done)) - 1;
        if (low != 0)
            return done + static_cast<std::size_t>(__builtin_ctzll(low));
        v0 = _mm512_add_epi32(_mm512_mullo_epi32(v0, jumpMul), jumpAdd);
        v1 = _mm512_add_epi32(_mm512_mullo_epi32(v1, jumpMul), jumpAdd);
        v2 = _mm512_add_epi32(_mm512_mullo_epi32(v2, jumpMul), jumpAdd);
        v3 = _mm512_add_epi32(_mm512_mullo_epi32(v3, jumpMul), jumpAdd);
        done += 64;
    }
    return count;
}

using Avx512Kernels = KernelSet<scanAvx512, scanEachAvx512, stepStatesAvx512, statesBelowAvx512,
    addQuantaAvx512, setQuantaAvx512, largestAvx512, atLeastAvx512, eachBoundsAvx512, laneSitesBmi2>;

} // namespace

} // namespace cleftsim::detail::kernels

CLEFTSIM_END_INSTRUCTIONS

// The entry, compiled for every processor.
namespace cleftsim::detail {

DrawScan avx512Scan()
{
    return kernels::scanOf<kernels::Avx512Kernels>("avx512", CLEFTSIM_AVX512_FEATURES);
}

} // namespace cleftsim::detail

#else

// Another processor: the scan is known by name but never available.
namespace cleftsim::detail {

DrawScan avx512Scan()
{
    DrawScan scan = scalarScan();
    scan.name = "avx512";
    scan.features = CLEFTSIM_AVX512_FEATURES;
    return scan;
}

} // namespace cleftsim::detail

#endif
