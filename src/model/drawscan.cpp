#include "model/drawscan.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define CLEFTSIM_X86_VECTOR 1
#endif

namespace cleftsim {

namespace {

using detail::singleJumps;
using detail::StrideJumps;

std::size_t scanScalar(std::uint32_t seed, std::size_t count, std::uint32_t bound)
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

#ifdef CLEFTSIM_X86_VECTOR

// Four vectors of 8 lanes hold 32 consecutive states; all four jump over 32
// draws at once. Unsigned comparison by the unsigned minimum: a lane is
// below the bound where min(lane, bound - 1) equals the lane.
__attribute__((target("avx2"))) std::size_t scanAvx2(
    std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const StrideJumps &jumps = singleJumps;
    const __m256i s = _mm256_set1_epi32(static_cast<int>(seed));
    const auto *mul = reinterpret_cast<const __m256i *>(jumps.mul + 1);
    const auto *add = reinterpret_cast<const __m256i *>(jumps.add + 1);
    __m256i v0 = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul), s), _mm256_loadu_si256(add));
    __m256i v1
        = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul + 1), s), _mm256_loadu_si256(add + 1));
    __m256i v2
        = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul + 2), s), _mm256_loadu_si256(add + 2));
    __m256i v3
        = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul + 3), s), _mm256_loadu_si256(add + 3));
    const __m256i jumpMul = _mm256_set1_epi32(static_cast<int>(jumps.mul[32]));
    const __m256i jumpAdd = _mm256_set1_epi32(static_cast<int>(jumps.add[32]));
    const __m256i below = _mm256_set1_epi32(static_cast<int>(bound - 1));
    const __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    std::size_t done = 0;
    while (done < count) {
        __m256i w0 = v0, w1 = v1, w2 = v2, w3 = v3;
        if (count - done < 32) {
            // Lanes past the last draw are set to the largest state.
            const __m256i left = _mm256_set1_epi32(static_cast<int>(count - done));
            const __m256i eight = _mm256_set1_epi32(8);
            const __m256i i0 = index, i1 = _mm256_add_epi32(i0, eight);
            const __m256i i2 = _mm256_add_epi32(i1, eight), i3 = _mm256_add_epi32(i2, eight);
            w0 = _mm256_or_si256(w0, _mm256_cmpgt_epi32(_mm256_add_epi32(i0, _mm256_set1_epi32(1)), left));
            w1 = _mm256_or_si256(w1, _mm256_cmpgt_epi32(_mm256_add_epi32(i1, _mm256_set1_epi32(1)), left));
            w2 = _mm256_or_si256(w2, _mm256_cmpgt_epi32(_mm256_add_epi32(i2, _mm256_set1_epi32(1)), left));
            w3 = _mm256_or_si256(w3, _mm256_cmpgt_epi32(_mm256_add_epi32(i3, _mm256_set1_epi32(1)), left));
        }
        const __m256i lowest = _mm256_min_epu32(_mm256_min_epu32(w0, w1), _mm256_min_epu32(w2, w3));
        const __m256i hit = _mm256_cmpeq_epi32(_mm256_min_epu32(lowest, below), lowest);
        if (!_mm256_testz_si256(hit, hit)) {
            alignas(32) std::uint32_t states[32];
            _mm256_store_si256(reinterpret_cast<__m256i *>(states), w0);
            _mm256_store_si256(reinterpret_cast<__m256i *>(states + 8), w1);
            _mm256_store_si256(reinterpret_cast<__m256i *>(states + 16), w2);
            _mm256_store_si256(reinterpret_cast<__m256i *>(states + 24), w3);
            for (std::size_t i = 0;; ++i)
                if (states[i] < bound)
                    return done + i;
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
__attribute__((target("avx512f"))) std::size_t scanAvx512(
    std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const StrideJumps &jumps = singleJumps;
    const __m512i s = _mm512_set1_epi32(static_cast<int>(seed));
    __m512i v0 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 1), s), _mm512_loadu_si512(jumps.add + 1));
    __m512i v1 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 17), s), _mm512_loadu_si512(jumps.add + 17));
    __m512i v2 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 33), s), _mm512_loadu_si512(jumps.add + 33));
    __m512i v3 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 49), s), _mm512_loadu_si512(jumps.add + 49));
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

bool always()
{
    return true;
}

#ifdef CLEFTSIM_X86_VECTOR
// The processor is asked on the first question, not at start-up.
bool hasAvx2()
{
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
    return has;
}

bool hasAvx512()
{
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") != 0);
    return has;
}
#else
bool never()
{
    return false;
}
#endif

const std::vector<DrawScan> &table()
{
    static const std::vector<DrawScan> scans {
        {"scalar", always, scanScalar},
#ifdef CLEFTSIM_X86_VECTOR
        {"avx2", hasAvx2, scanAvx2},
        {"avx512", hasAvx512, scanAvx512},
#else
        {"avx2", never, scanScalar},
        {"avx512", never, scanScalar},
#endif
    };
    return scans;
}

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The scan of every trial; null until the first trial or useDrawScan.
std::atomic<DrawScanFunction> chosenScan {nullptr};

// The scan the variable names where it can be followed, else the widest
// this processor has; a variable that cannot be followed is said once on
// standard error (the batch tool refuses it before any trial).
DrawScanFunction firstChoice()
{
    const std::string problem = drawScanVariableProblem();
    if (problem.empty()) {
        const char *value = std::getenv(DrawScanVariable);
        if (value && *value)
            return findDrawScan(value)->find;
    } else {
        std::fprintf(stderr, "cleftsim: %s; the widest scan is used\n", problem.c_str());
    }
    DrawScanFunction widest = scanScalar;
    for (const DrawScan &scan : table())
        if (scan.available())
            widest = scan.find;
    return widest;
}

DrawScanFunction chosen()
{
    DrawScanFunction scan = chosenScan.load(std::memory_order_acquire);
    if (!scan) {
        DrawScanFunction expected = nullptr;
        scan = firstChoice();
        if (!chosenScan.compare_exchange_strong(expected, scan, std::memory_order_acq_rel))
            scan = expected; // another thread chose first
    }
    return scan;
}

} // namespace

const std::vector<DrawScan> &drawScans()
{
    return table();
}

std::vector<std::string> availableDrawScans()
{
    std::vector<std::string> names;
    for (const DrawScan &scan : table())
        if (scan.available())
            names.emplace_back(scan.name);
    return names;
}

const DrawScan *findDrawScan(const std::string &name)
{
    for (const DrawScan &scan : table())
        if (name == scan.name)
            return &scan;
    return nullptr;
}

std::string drawScanVariableProblem()
{
    const char *value = std::getenv(DrawScanVariable);
    if (!value || !*value)
        return std::string();
    const DrawScan *scan = findDrawScan(value);
    const std::string what = std::string(DrawScanVariable) + "=" + value;
    if (!scan) {
        std::vector<std::string> known;
        for (const DrawScan &s : table())
            known.emplace_back(s.name);
        return what + ": not available (no draw scan of that name); known: " + joined(known)
            + "; available on this processor: " + joined(availableDrawScans());
    }
    if (!scan->available())
        return what + ": not available on this processor; available: " + joined(availableDrawScans());
    return std::string();
}

bool useDrawScan(const std::string &name)
{
    const DrawScan *scan = findDrawScan(name);
    if (!scan || !scan->available())
        return false;
    chosenScan.store(scan->find, std::memory_order_release);
    return true;
}

std::string drawScanInUse()
{
    const DrawScanFunction scan = chosen();
    for (const DrawScan &entry : table())
        if (entry.find == scan && entry.available())
            return entry.name;
    return "scalar";
}

std::size_t detail::firstDrawBelow(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    return chosen()(seed, count, bound);
}

} // namespace cleftsim
