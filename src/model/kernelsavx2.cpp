// The kernels of the avx2 scan: 8 draws at once, compiled
// with the loop of the peak trials for AVX2 alone.

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

CLEFTSIM_BEGIN_INSTRUCTIONS(CLEFTSIM_AVX2_FEATURES)

#include "model/kernels.h"
#include "model/peakloop.h"

namespace cleftsim::detail::kernels {

namespace {

inline std::uint32_t laneSitesBmi2(std::uint32_t lanes, std::uint32_t sites)
{
    return _pdep_u32(lanes, sites);
}

// The states of the draws first + 1 .. first + 8 (16) after the seed s
// (broadcast to every lane), each from its own jump.
inline __m256i statesAvx2(__m256i s, int first)
{
    return _mm256_add_epi32(
        _mm256_mullo_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(generatorJumps.mul + first + 1)), s),
        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(generatorJumps.add + first + 1)));
}

inline std::size_t scanEachAvx2(std::uint32_t seed, std::size_t count, const std::uint32_t *bounds)
{
    const GeneratorJumps &jumps = generatorJumps;
    const __m256i s = _mm256_set1_epi32(static_cast<int>(seed));
    __m256i v0 = statesAvx2(s, 0);
    __m256i v1 = statesAvx2(s, 8);
    const __m256i jumpMul = _mm256_set1_epi32(static_cast<int>(jumps.mul[16]));
    const __m256i jumpAdd = _mm256_set1_epi32(static_cast<int>(jumps.add[16]));
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    std::size_t done = 0;
    while (done < count) {
        const auto *b = reinterpret_cast<const __m256i *>(bounds + done);
        const __m256i b0 = _mm256_xor_si256(_mm256_loadu_si256(b), flip);
        const __m256i b1 = _mm256_xor_si256(_mm256_loadu_si256(b + 1), flip);
        const auto low0 = static_cast<std::uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(b0, _mm256_xor_si256(v0, flip)))));
        const auto low1 = static_cast<std::uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(b1, _mm256_xor_si256(v1, flip)))));
        const std::uint32_t low = low0 | low1 << 8;
        if (low != 0) {
            const std::size_t at = done + static_cast<std::size_t>(__builtin_ctz(low));
            return at < count ? at : count;
        }
        v0 = _mm256_add_epi32(_mm256_mullo_epi32(v0, jumpMul), jumpAdd);
        v1 = _mm256_add_epi32(_mm256_mullo_epi32(v1, jumpMul), jumpAdd);
        done += 16;
    }
    return count;
}

inline void stepStatesAvx2(std::uint32_t seed, std::uint32_t *states)
{
    const __m256i s = _mm256_set1_epi32(static_cast<int>(seed));
    auto *out = reinterpret_cast<__m256i *>(states);
    for (int i = 0; i < 4; ++i)
        _mm256_store_si256(out + i, statesAvx2(s, 8 * i));
}

// Unsigned comparison by the signed one of the states and the threshold
// both moved by 2^31.
inline std::uint32_t statesBelowAvx2(const std::uint32_t *states, std::uint32_t threshold)
{
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i t = _mm256_set1_epi32(static_cast<int>(threshold ^ 0x80000000u));
    const auto *in = reinterpret_cast<const __m256i *>(states);
    std::uint32_t below = 0;
    for (int i = 0; i < 4; ++i) {
        const __m256i v = _mm256_xor_si256(_mm256_load_si256(in + i), flip);
        const auto bits
            = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(t, v))));
        below |= bits << (8 * i);
    }
    return below;
}

inline void addQuantaAvx2(double *G, const double *q, int from, int to, double times)
{
    const __m256d f = _mm256_set1_pd(times);
    for (int v = from & ~3; v < to; v += 4)
        _mm256_store_pd(
            G + v, _mm256_add_pd(_mm256_load_pd(G + v), _mm256_mul_pd(f, _mm256_loadu_pd(q + v))));
}

// The lanes of the last 1..4 entries from a vector's start.
alignas(32) inline constexpr std::int64_t lastLanes[5][4]
    = {{0, 0, 0, 0}, {-1, 0, 0, 0}, {-1, -1, 0, 0}, {-1, -1, -1, 0}, {-1, -1, -1, -1}};

// The largest as the largest of vectors of 4, with lanes past to as 0
// (which no entry is below).
inline double largestAvx2(const double *G, int from, int to)
{
    __m256d a = _mm256_setzero_pd();
    int v = from;
    for (; v + 4 <= to; v += 4)
        a = _mm256_max_pd(a, _mm256_loadu_pd(G + v));
    const __m256i last = _mm256_load_si256(reinterpret_cast<const __m256i *>(lastLanes[to + 1 - v]));
    a = _mm256_max_pd(a, _mm256_maskload_pd(G + v, last));
    __m128d b = _mm_max_pd(_mm256_castpd256_pd128(a), _mm256_extractf128_pd(a, 1));
    b = _mm_max_sd(b, _mm_unpackhi_pd(b, b));
    return _mm_cvtsd_f64(b);
}

inline std::uint64_t atLeastAvx2(const double *G, int from, int to, double cut)
{
    const __m256d c = _mm256_set1_pd(cut);
    std::uint64_t mask = 0;
    int v = from;
    for (; v + 4 <= to + 1; v += 4)
        mask |= std::uint64_t(_mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(G + v), c, _CMP_GE_OQ)))
            << (v - from);
    if (v <= to) {
        const __m256i last = _mm256_load_si256(reinterpret_cast<const __m256i *>(lastLanes[to + 1 - v]));
        mask
            |= std::uint64_t(_mm256_movemask_pd(_mm256_cmp_pd(_mm256_maskload_pd(G + v, last), c, _CMP_GE_OQ))
                   & _mm256_movemask_pd(_mm256_castsi256_pd(last)))
            << (v - from);
    }
    return mask;
}

inline void setQuantaAvx2(double *G, const double *q, int from, int to, double times, double base)
{
    const __m256d f = _mm256_set1_pd(times);
    const __m256d b = _mm256_set1_pd(base);
    for (int v = from & ~3; v < to; v += 4)
        _mm256_store_pd(G + v, _mm256_add_pd(b, _mm256_mul_pd(f, _mm256_loadu_pd(q + v))));
}

// Four vectors of 8 lanes hold 32 consecutive states; all four jump over 32
// draws at once. Unsigned comparison by the unsigned minimum: a lane is
// below the bound where min(lane, bound - 1) equals the lane.
inline std::size_t scanAvx2(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const GeneratorJumps &jumps = generatorJumps;
    const __m256i s = _mm256_set1_epi32(static_cast<int>(seed));
    __m256i v0 = statesAvx2(s, 0);
    __m256i v1 = statesAvx2(s, 8);
    __m256i v2 = statesAvx2(s, 16);
    __m256i v3 = statesAvx2(s, 24);
    const __m256i jumpMul = _mm256_set1_epi32(static_cast<int>(jumps.mul[32]));
    const __m256i jumpAdd = _mm256_set1_epi32(static_cast<int>(jumps.add[32]));
    const __m256i below = _mm256_set1_epi32(static_cast<int>(bound - 1));
    std::size_t done = 0;
    while (done < count) {
        // Lanes past the last draw are later draws: a first low state among
        // them means none among the count.
        const __m256i lowest = _mm256_min_epu32(_mm256_min_epu32(v0, v1), _mm256_min_epu32(v2, v3));
        const __m256i hit = _mm256_cmpeq_epi32(_mm256_min_epu32(lowest, below), lowest);
        if (!_mm256_testz_si256(hit, hit)) {
            const __m256i h0 = _mm256_cmpeq_epi32(_mm256_min_epu32(v0, below), v0);
            const __m256i h1 = _mm256_cmpeq_epi32(_mm256_min_epu32(v1, below), v1);
            const __m256i h2 = _mm256_cmpeq_epi32(_mm256_min_epu32(v2, below), v2);
            const __m256i h3 = _mm256_cmpeq_epi32(_mm256_min_epu32(v3, below), v3);
            const std::uint32_t low = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(h0)))
                | static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(h1))) << 8
                | static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(h2))) << 16
                | static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(h3))) << 24;
            const std::size_t at = done + static_cast<std::size_t>(__builtin_ctz(low));
            return at < count ? at : count;
        }
        v0 = _mm256_add_epi32(_mm256_mullo_epi32(v0, jumpMul), jumpAdd);
        v1 = _mm256_add_epi32(_mm256_mullo_epi32(v1, jumpMul), jumpAdd);
        v2 = _mm256_add_epi32(_mm256_mullo_epi32(v2, jumpMul), jumpAdd);
        v3 = _mm256_add_epi32(_mm256_mullo_epi32(v3, jumpMul), jumpAdd);
        done += 32;
    }
    return count;
}

using Avx2Kernels = KernelSet<scanAvx2, scanEachAvx2, stepStatesAvx2, statesBelowAvx2, addQuantaAvx2,
    setQuantaAvx2, largestAvx2, atLeastAvx2, eachBoundsScalar, laneSitesBmi2>;

} // namespace

} // namespace cleftsim::detail::kernels

CLEFTSIM_END_INSTRUCTIONS

// The entry, compiled for every processor.
namespace cleftsim::detail {

DrawScan avx2Scan()
{
    return kernels::scanOf<kernels::Avx2Kernels>("avx2", CLEFTSIM_AVX2_FEATURES);
}

} // namespace cleftsim::detail

#else

// Another processor: the scan is known by name but never available.
namespace cleftsim::detail {

DrawScan avx2Scan()
{
    DrawScan scan = scalarScan();
    scan.name = "avx2";
    scan.features = CLEFTSIM_AVX2_FEATURES;
    return scan;
}

} // namespace cleftsim::detail

#endif
