#pragma once

// The kernels of the draw scans (see DrawScan), one set per instruction set,
// where a loop can take them inline: compiled for the same instructions,
// the loop keeps its states in registers across them.

#include "model/drawscan.h"

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define CLEFTSIM_X86_VECTOR 1
#endif

namespace cleftsim::detail::kernels {

using detail::singleJumps;
using detail::StrideJumps;

inline std::size_t scanScalar(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    // Blocks of 16 draws worked out from the seed at the block's start, so
    // that the multiplications do not wait for each other.
    constexpr std::size_t Block = 16;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = count - done < Block ? count - done : Block;
        std::uint32_t lowest = 0xffffffffu;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t state = singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1];
            lowest = state < lowest ? state : lowest;
        }
        if (lowest < bound) {
            for (std::size_t i = 0;; ++i)
                if (singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1] < bound)
                    return done + i;
        }
        seed = singleJumps.mul[Block] * seed + singleJumps.add[Block];
        done += n;
    }
    return count;
}

inline std::size_t scanEachScalar(std::uint32_t seed, std::size_t count, const std::uint32_t *bounds)
{
    // Blocks of 16 draws as in scanScalar, each state against its own bound.
    constexpr std::size_t Block = 16;
    for (std::size_t done = 0; done < count; done += Block) {
        bool low = false;
        for (std::size_t i = 0; i < Block; ++i)
            low |= singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1] < bounds[done + i];
        if (low) {
            for (std::size_t i = 0;; ++i)
                if (singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1] < bounds[done + i])
                    return done + i < count ? done + i : count;
        }
        seed = singleJumps.mul[Block] * seed + singleJumps.add[Block];
    }
    return count;
}

inline void stepStatesScalar(std::uint32_t seed, std::uint32_t *states)
{
    for (int i = 0; i < MaxSites; ++i)
        states[i] = singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1];
}

inline std::uint32_t statesBelowScalar(const std::uint32_t *states, std::uint32_t threshold)
{
    std::uint32_t below = 0;
    for (int i = 0; i < MaxSites; ++i)
        below |= static_cast<std::uint32_t>(states[i] < threshold) << i;
    return below;
}

inline void addQuantaScalar(double *G, const double *q, int from, int to, double times)
{
    for (int v = from; v < to; ++v)
        G[v] += times * q[v];
}

inline void setQuantaScalar(double *G, const double *q, int from, int to, double times, double base)
{
    for (int v = from; v < to; ++v)
        G[v] = base + times * q[v];
}

inline double largestScalar(const double *G, int from, int to)
{
    double a = G[from];
    for (int v = from + 1; v <= to; ++v)
        a = G[v] > a ? G[v] : a;
    return a;
}

inline std::uint64_t atLeastScalar(const double *G, int from, int to, double cut)
{
    std::uint64_t mask = 0;
    for (int v = from; v <= to; ++v)
        mask |= std::uint64_t(G[v] >= cut) << (v - from);
    return mask;
}

// The step of each of 16 draws, (16 c + i) / n for draw i of chunk c, as
// far as EachBoundSteps steps of n draws reach (and the last step past).
struct EachSteps {
    std::uint8_t of[MaxSites + 1][(EachBoundSteps * MaxSites + 15) / 16][16];
};

constexpr EachSteps makeEachSteps()
{
    EachSteps e {};
    for (int n = 1; n <= MaxSites; ++n)
        for (int c = 0; c < (EachBoundSteps * MaxSites + 15) / 16; ++c)
            for (int i = 0; i < 16; ++i) {
                const int step = (16 * c + i) / n;
                e.of[n][c][i] = static_cast<std::uint8_t>(step < EachBoundSteps ? step : EachBoundSteps - 1);
            }
    return e;
}

inline constexpr EachSteps eachSteps = makeEachSteps();

inline int eachBoundsScalar(const double *G, int from, int last, const std::uint64_t *pairs, double scale,
    double limit, int n, std::uint32_t *out)
{
    const int steps = last - from + 1 < EachBoundSteps ? last - from + 1 : EachBoundSteps;
    std::uint32_t bound[EachBoundSteps];
    int made = 0;
    for (; made < steps; ++made) {
        const double x = G[from + made] * scale;
        const double inTable = x < limit ? x : limit;
        const std::uint64_t entry = pairs[(static_cast<unsigned>(inTable) / EachBoundWidth) * 2 + 1];
        if (entry == UnmadeBound)
            return -1;
        if (entry == 0)
            break;
        bound[made] = static_cast<std::uint32_t>(entry);
    }
    // Each step's bound over as many entries as there can be sites, the
    // next step's from its own first draw on.
    for (int step = 0; step < made; ++step)
        for (int i = 0; i < MaxSites; ++i)
            out[step * n + i] = bound[step];
    return made;
}

inline std::uint32_t laneSitesScalar(std::uint32_t lanes, std::uint32_t sites)
{
    std::uint32_t chosen = 0;
    for (int i = 0; sites != 0; sites &= sites - 1, ++i)
        chosen |= (lanes >> i & 1u) ? sites & (~sites + 1u) : 0u;
    return chosen;
}

#ifdef CLEFTSIM_X86_VECTOR

// The states of the draws first + 1 .. first + 8 (16) after the seed s
// (broadcast to every lane), each from its own jump.
__attribute__((target("avx2"))) inline __m256i statesAvx2(__m256i s, int first)
{
    return _mm256_add_epi32(
        _mm256_mullo_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(singleJumps.mul + first + 1)), s),
        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(singleJumps.add + first + 1)));
}

__attribute__((target("avx512f"))) inline __m512i statesAvx512(__m512i s, int first)
{
    return _mm512_add_epi32(_mm512_mullo_epi32(_mm512_loadu_si512(singleJumps.mul + first + 1), s),
        _mm512_loadu_si512(singleJumps.add + first + 1));
}

__attribute__((target("bmi2"))) inline std::uint32_t laneSitesBmi2(std::uint32_t lanes, std::uint32_t sites)
{
    return _pdep_u32(lanes, sites);
}

__attribute__((target("avx2"))) inline std::size_t scanEachAvx2(
    std::uint32_t seed, std::size_t count, const std::uint32_t *bounds)
{
    const StrideJumps &jumps = singleJumps;
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

__attribute__((target("avx2"))) inline void stepStatesAvx2(std::uint32_t seed, std::uint32_t *states)
{
    const __m256i s = _mm256_set1_epi32(static_cast<int>(seed));
    auto *out = reinterpret_cast<__m256i *>(states);
    for (int i = 0; i < 4; ++i)
        _mm256_store_si256(out + i, statesAvx2(s, 8 * i));
}

// Unsigned comparison by the signed one of the states and the threshold
// both moved by 2^31.
__attribute__((target("avx2"))) inline std::uint32_t statesBelowAvx2(
    const std::uint32_t *states, std::uint32_t threshold)
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

__attribute__((target("avx2"))) inline void addQuantaAvx2(
    double *G, const double *q, int from, int to, double times)
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
__attribute__((target("avx2"))) inline double largestAvx2(const double *G, int from, int to)
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

__attribute__((target("avx2"))) inline std::uint64_t atLeastAvx2(
    const double *G, int from, int to, double cut)
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

__attribute__((target("avx512f"))) inline std::uint64_t atLeastAvx512(
    const double *G, int from, int to, double cut)
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
__attribute__((target("avx512f"))) inline int eachBoundsAvx512(const double *G, int from, int last,
    const std::uint64_t *pairs, double scale, double limit, int n, std::uint32_t *out)
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

__attribute__((target("avx512f"))) inline std::size_t scanEachAvx512(
    std::uint32_t seed, std::size_t count, const std::uint32_t *bounds)
{
    const StrideJumps &jumps = singleJumps;
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

__attribute__((target("avx2"))) inline void setQuantaAvx2(
    double *G, const double *q, int from, int to, double times, double base)
{
    const __m256d f = _mm256_set1_pd(times);
    const __m256d b = _mm256_set1_pd(base);
    for (int v = from & ~3; v < to; v += 4)
        _mm256_store_pd(G + v, _mm256_add_pd(b, _mm256_mul_pd(f, _mm256_loadu_pd(q + v))));
}

__attribute__((target("avx512f"))) inline void setQuantaAvx512(
    double *G, const double *q, int from, int to, double times, double base)
{
    const __m512d f = _mm512_set1_pd(times);
    const __m512d b = _mm512_set1_pd(base);
    for (int v = from & ~7; v < to; v += 8)
        _mm512_store_pd(G + v, _mm512_add_pd(b, _mm512_mul_pd(f, _mm512_loadu_pd(q + v))));
}

__attribute__((target("avx512f"))) inline void stepStatesAvx512(std::uint32_t seed, std::uint32_t *states)
{
    const __m512i s = _mm512_set1_epi32(static_cast<int>(seed));
    _mm512_store_si512(states, statesAvx512(s, 0));
    _mm512_store_si512(states + 16, statesAvx512(s, 16));
}

__attribute__((target("avx512f"))) inline std::uint32_t statesBelowAvx512(
    const std::uint32_t *states, std::uint32_t threshold)
{
    const __m512i t = _mm512_set1_epi32(static_cast<int>(threshold));
    const std::uint32_t low = _mm512_cmplt_epu32_mask(_mm512_load_si512(states), t);
    const std::uint32_t high = _mm512_cmplt_epu32_mask(_mm512_load_si512(states + 16), t);
    return low | high << 16;
}

__attribute__((target("avx512f"))) inline void addQuantaAvx512(
    double *G, const double *q, int from, int to, double times)
{
    const __m512d f = _mm512_set1_pd(times);
    for (int v = from & ~7; v < to; v += 8)
        _mm512_store_pd(
            G + v, _mm512_add_pd(_mm512_load_pd(G + v), _mm512_mul_pd(f, _mm512_loadu_pd(q + v))));
}

__attribute__((target("avx512f"))) inline double largestAvx512(const double *G, int from, int to)
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

// Four vectors of 8 lanes hold 32 consecutive states; all four jump over 32
// draws at once. Unsigned comparison by the unsigned minimum: a lane is
// below the bound where min(lane, bound - 1) equals the lane.
__attribute__((target("avx2"))) inline std::size_t scanAvx2(
    std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const StrideJumps &jumps = singleJumps;
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

// Four vectors of 16 lanes hold 64 consecutive states; the comparison gives
// one bit per draw, so the first low state is the lowest bit set.
__attribute__((target("avx512f"))) inline std::size_t scanAvx512(
    std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const StrideJumps &jumps = singleJumps;
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

#endif

// The kernels of each scan as one type, for a loop made once for each.
template <DrawScanFunction Find, DrawScanEachFunction FindEach, StepStatesFunction StepStates,
    StatesBelowFunction StatesBelow, AddQuantaFunction AddQuanta, SetQuantaFunction SetQuanta,
    LargestFunction Largest, AtLeastFunction AtLeast, EachBoundsFunction EachBounds,
    LaneSitesFunction LaneSites>
struct KernelSet {
    static constexpr DrawScanFunction find = Find;
    static constexpr DrawScanEachFunction findEach = FindEach;
    static constexpr StepStatesFunction stepStates = StepStates;
    static constexpr StatesBelowFunction statesBelow = StatesBelow;
    static constexpr AddQuantaFunction addQuanta = AddQuanta;
    static constexpr SetQuantaFunction setQuanta = SetQuanta;
    static constexpr LargestFunction largest = Largest;
    static constexpr AtLeastFunction atLeast = AtLeast;
    static constexpr EachBoundsFunction eachBounds = EachBounds;
    static constexpr LaneSitesFunction laneSites = LaneSites;
};

using ScalarKernels = KernelSet<scanScalar, scanEachScalar, stepStatesScalar, statesBelowScalar,
    addQuantaScalar, setQuantaScalar, largestScalar, atLeastScalar, eachBoundsScalar, laneSitesScalar>;
#ifdef CLEFTSIM_X86_VECTOR
using Avx2Kernels = KernelSet<scanAvx2, scanEachAvx2, stepStatesAvx2, statesBelowAvx2, addQuantaAvx2,
    setQuantaAvx2, largestAvx2, atLeastAvx2, eachBoundsScalar, laneSitesBmi2>;
using Avx512Kernels = KernelSet<scanAvx512, scanEachAvx512, stepStatesAvx512, statesBelowAvx512,
    addQuantaAvx512, setQuantaAvx512, largestAvx512, atLeastAvx512, eachBoundsAvx512, laneSitesBmi2>;
#endif

} // namespace cleftsim::detail::kernels
