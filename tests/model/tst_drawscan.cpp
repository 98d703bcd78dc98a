#include "model/drawscan.h"

#include "compareplain.h"
#include "model/instructionsets.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace cleftsim;
using cleftsim::testing::advanced;

namespace {

int bitsSetIn(std::uint32_t x)
{
    int n = 0;
    for (; x != 0; x &= x - 1)
        ++n;
    return n;
}

} // namespace

class TestDrawScan : public QObject {
    Q_OBJECT
private slots:
    void drawScansFindTheFirstLowState();
    void scansOfferedByTheirFeatures();
};

void TestDrawScan::drawScansFindTheFirstLowState()
{
    // Every scan the processor has against the recurrence: the first of count states below
    // the bound, for counts around the vector blocks, bounds from 1 to the
    // largest, and a low state placed exactly at the end of the count.
    auto firstByRecurrence = [](std::uint32_t seed, std::size_t count, std::uint32_t bound) {
        std::uint64_t x = seed;
        for (std::size_t i = 0; i < count; ++i) {
            x = (x * 134775813ull + 1ull) % 4294967296ull;
            if (x < bound)
                return i;
        }
        return count;
    };
    std::vector<const DrawScan *> scans;
    for (const DrawScan &scan : drawScans())
        if (scan.available())
            scans.push_back(&scan);
    QVERIFY(!scans.empty() && std::string(scans.front()->name) == "scalar");
    Generator pick(4242);
    for (int round = 0; round < 4000; ++round) {
        const auto seed = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        const std::size_t count = round < 200 ? std::size_t(round) : std::size_t(pick.next() * 700);
        const std::uint32_t bounds[]
            = {1u, 0x80000000u, 0xffffffffu, static_cast<std::uint32_t>(1 + pick.next() * 2e8),
                static_cast<std::uint32_t>(1 + pick.next() * 2e7)};
        for (std::uint32_t bound : bounds) {
            const std::size_t expected = firstByRecurrence(seed, count, bound);
            for (const DrawScan *scan : scans)
                QCOMPARE(scan->find(seed, count, bound), expected);
        }
        // A bound just above the last state of the count: found at the end
        // only, and not one draw past it.
        if (count > 0) {
            const std::uint32_t lastState = advanced(seed, static_cast<long long>(count));
            if (lastState < 0xffffffffu) {
                const std::uint32_t bound = lastState + 1;
                const std::size_t expected = firstByRecurrence(seed, count, bound);
                for (const DrawScan *scan : scans) {
                    QCOMPARE(scan->find(seed, count, bound), expected);
                    QCOMPARE(scan->find(seed, count - 1, bound), std::min(expected, count - 1));
                }
            }
        }
    }
    for (long long n :
        {0LL, 1LL, 20LL, 127LL, 128LL, 129LL, 1023LL, 1024LL, 6420LL, 16383LL, 16384LL, 16385LL, 40000LL})
        for (std::uint32_t seed : {0u, 1u, 0xffffffffu, 86399999u})
            QCOMPARE(detail::advance(seed, n), advanced(seed, n));

    // The other work of a trial on each scan's instructions: every draw
    // against its own bound, the states of one step and the lanes below a
    // threshold, the quanta added to or set in a running sum (bit for bit
    // the scalar sums), and the sites of the lanes.
    for (int round = 0; round < 2000; ++round) {
        const auto seed = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        const std::size_t count = round < 100 ? std::size_t(round) : std::size_t(pick.next() * 500);
        std::vector<std::uint32_t> own(count + 64, 0);
        for (std::size_t i = 0; i < count; ++i)
            own[i] = static_cast<std::uint32_t>(pick.next() * (round % 3 == 0 ? 4294967296.0 : 3e7));
        std::size_t expected = count;
        for (std::size_t i = 0; i < count && expected == count; ++i)
            if (advanced(seed, static_cast<long long>(i) + 1) < own[i])
                expected = i;
        alignas(64) std::uint32_t states[32];
        const std::uint32_t threshold = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        std::uint32_t below = 0;
        for (int i = 0; i < MaxSites; ++i)
            below |= static_cast<std::uint32_t>(advanced(seed, i + 1) < threshold) << i;
        const auto sitesLeft = static_cast<std::uint32_t>(pick.next() * 2097152.0) & ~1u;
        const auto lanes = static_cast<std::uint32_t>(pick.next() * 1048576.0);
        std::uint32_t laneSites = 0;
        int lane = 0;
        for (int j = 1; j <= MaxSites; ++j)
            if (sitesLeft >> j & 1u)
                laneSites |= (lanes >> lane++ & 1u) << j;
        // The quanta are 0 before the release, as the trial's are; a scan
        // may work in whole vectors of 8 around from..to - 1.
        alignas(64) double q[64], added[64], set[64];
        const int from = int(pick.next() * 30), to = from + int(pick.next() * 34);
        for (int v = 0; v < 64; ++v) {
            q[v] = v < from ? 0.0 : pick.next() * 9.99;
            added[v] = set[v] = pick.next() * 20;
        }
        const double times = 1 + int(pick.next() * 4), base = pick.next() * 3;
        double largest = added[from];
        for (int v = from; v < to; ++v) {
            added[v] += times * q[v];
            set[v] = base + times * q[v];
            largest = added[v] > largest ? added[v] : largest;
        }
        // Step bounds read from a table of pairs, some not yet made (all
        // bits set) or none (0), for conductances in and past the table.
        std::vector<std::uint64_t> pairs(2 * 257);
        for (std::uint64_t &entry : pairs) {
            const double kind = pick.next();
            entry = kind < 0.03 ? ~std::uint64_t(0)
                : kind < 0.06   ? 0
                                : static_cast<std::uint64_t>(1 + pick.next() * 4294967294.0);
        }
        const double scale = round % 7 == 0 ? HUGE_VAL : 1 + pick.next() * 100;
        const int sites = 1 + int(pick.next() * MaxSites);
        alignas(64) double stepG[64];
        for (double &g : stepG)
            g = pick.next() * (round % 5 == 0 ? 30 : 21);
        const int first = int(pick.next() * 20), last = first + int(pick.next() * 12);
        int made = 0;
        std::vector<std::uint32_t> stepBound;
        for (int v = first; v <= last && made < EachBoundSteps; ++v, ++made) {
            const double x = std::min(stepG[v] * scale, 2048.0);
            const std::uint64_t entry = pairs[std::size_t(x) / 8 * 2 + 1];
            if (entry == ~std::uint64_t(0)) {
                made = -1;
                break;
            }
            if (entry == 0)
                break;
            stepBound.push_back(std::uint32_t(entry));
        }
        for (const DrawScan *scan : scans) {
            const QByteArray where = QByteArray(scan->name) + " round " + QByteArray::number(round);
            alignas(64) std::uint32_t out[EachBoundSteps * MaxSites + 64];
            QVERIFY2(scan->eachBounds(stepG, first, last, pairs.data(), scale, 2048.0, sites, out) == made,
                where.constData());
            for (int d = 0; d < made * sites; ++d)
                QVERIFY2(out[d] == stepBound[std::size_t(d / sites)], where.constData());
            QVERIFY2(scan->findEach(seed, count, own.data()) == expected, where.constData());
            scan->stepStates(seed, states);
            for (int i = 0; i < MaxSites; ++i)
                QVERIFY2(states[i] == advanced(seed, i + 1), where.constData());
            QVERIFY2((scan->statesBelow(states, threshold) & 0xfffffu) == below, where.constData());
            QVERIFY2(scan->laneSites(lanes & ((1u << bitsSetIn(sitesLeft)) - 1u), sitesLeft) == laneSites,
                where.constData());
            alignas(64) double G[64], H[64];
            for (int v = 0; v < 64; ++v)
                G[v] = H[v] = (v < from || v >= to) ? added[v] : added[v] - times * q[v];
            std::copy(set, set + 64, H);
            for (int v = from; v < to; ++v)
                H[v] = -1;
            scan->addQuanta(G, q, from, to, times);
            scan->setQuanta(H, q, from, to, times, base);
            const auto upTo = sizeof(double) * static_cast<std::size_t>(to);
            QVERIFY2(std::memcmp(G, added, upTo) == 0, where.constData());
            QVERIFY2(std::memcmp(H + from, set + from, upTo - sizeof(double) * std::size_t(from)) == 0,
                where.constData());
            if (from < to) {
                QVERIFY2(scan->largest(G, from, to - 1) == largest, where.constData());
                // The steps at or above a cut, one of the sums itself (equal
                // counts) or between them.
                const double cut
                    = round % 2 == 0 ? added[from + (round / 2) % (to - from)] : pick.next() * 40;
                std::uint64_t atLeast = 0;
                for (int v = from; v < to; ++v)
                    atLeast |= std::uint64_t(added[v] >= cut) << (v - from);
                QVERIFY2(scan->atLeast(G, from, to - 1, cut) == atLeast, where.constData());
            }
        }
    }
}

void TestDrawScan::scansOfferedByTheirFeatures()
{
    // A scan is offered exactly where the processor has every feature of the
    // list its file is compiled for; a name the check does not know (a slip
    // in a list) refuses the scan rather than run it on a processor without
    // the instructions. The plain scan needs none and comes first.
    QVERIFY(detail::processorHas(""));
    QVERIFY(!detail::processorHas("no-such-feature"));
    QVERIFY(!detail::processorHas("popcnt,no-such-feature"));
    const std::vector<DrawScan> &scans = drawScans();
    QCOMPARE(scans.size(), std::size_t(3));
    QCOMPARE(std::string(scans.front().name), std::string("scalar"));
    QVERIFY(scans.front().available());
    std::vector<std::string> offered;
    for (const DrawScan &scan : scans) {
        QCOMPARE(scan.available(), detail::processorHas(scan.features));
        QVERIFY(scan.peakLoop != nullptr && scan.find != nullptr);
        if (scan.available())
            offered.emplace_back(scan.name);
    }
    QCOMPARE(availableDrawScans(), offered);
}

QTEST_GUILESS_MAIN(TestDrawScan)
#include "tst_drawscan.moc"
