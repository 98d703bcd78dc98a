#include "model/smallstates.h"

#include "compareplain.h"

#include <QtTest>

#include <cstdint>
#include <vector>

using namespace cleftsim;
using namespace cleftsim::testing;

class TestSmallStates : public QObject {
    Q_OBJECT
private slots:
    void smallStatesKnowTheirPlaces();
};

void TestSmallStates::smallStatesKnowTheirPlaces()
{
    // The place of a state on the cycle is the number of draws that lead to
    // it from state 0, and the table lists every small state once, in the
    // order of the places.
    Generator pick(99);
    for (int round = 0; round < 200; ++round) {
        const auto draws = static_cast<std::uint64_t>(pick.next() * 4294967296.0);
        QCOMPARE(detail::cyclePlace(jumped(0, draws)), static_cast<std::uint32_t>(draws));
        // The jumps the test takes, against the recurrence itself.
        const auto few = static_cast<long long>(draws % 3000);
        QCOMPARE(jumped(draws, static_cast<std::uint64_t>(few)), advanced(draws, few));
        QCOMPARE(advanced(drawsBefore(draws, 1 + few), 1 + few), static_cast<std::uint32_t>(draws));
    }
    QCOMPARE(detail::cyclePlace(0), 0u);
    QCOMPARE(detail::cyclePlace(1), 1u); // 0 * a + 1
    const detail::SmallStates &table = detail::SmallStates::table();
    std::vector<bool> seen(detail::SmallStates::Count, false);
    for (std::uint32_t i = 0; i < detail::SmallStates::Count; ++i) {
        QVERIFY(table.state(i) < detail::SmallStates::Count && !seen[table.state(i)]);
        seen[table.state(i)] = true;
        QCOMPARE(table.place(i), detail::cyclePlace(table.state(i)));
        if (i > 0)
            QVERIFY(table.place(i) > table.place(i - 1));
    }
    // Walks from seeds just before a small state, across the end of the
    // cycle (state 0 is at place 0), alone and after an earlier walk that
    // ended at their seed: the first draw below the bound, as the
    // recurrence finds it, for counts that end at it or just before.
    for (std::uint32_t x : {0u, 1u, 77u, detail::SmallStates::Count - 1}) {
        for (std::uint32_t back : {1u, 2u, 17u, 500u, 4000u}) {
            const std::uint32_t seed = drawsBefore(x, back);
            // No earlier walk, one that asked 3 draws before, and five one
            // after another, the first of which asked, each over more than a
            // quarter of the cycle (more than a whole cycle in all).
            for (int hops : {0, 1, 5}) {
                const std::uint32_t gap = hops == 1 ? 3u : 0x50000000u;
                detail::SmallStatePlace last;
                for (int hop = hops; hop > 0; --hop) {
                    detail::SmallStateWalk before;
                    const std::uint32_t from = drawsBefore(x, back + gap * static_cast<std::uint32_t>(hop));
                    before.start(from, last);
                    if (hop == hops)
                        before.firstBelow(1, 1);
                    before.advance(gap);
                    before.finish(jumped(from, gap), last);
                    QVERIFY(last.kept);
                }
                QVERIFY(hops == 0 || last.seed == seed);
                detail::SmallStateWalk walk;
                walk.start(seed, last);
                for (std::uint32_t bound : {x, x + 1, detail::SmallStates::Count}) {
                    for (std::size_t count :
                        {std::size_t(back - 1), std::size_t(back), std::size_t(back + 40)}) {
                        std::size_t expected = count;
                        for (std::size_t i = 0; i < count && expected == count; ++i)
                            if (advanced(seed, static_cast<long long>(i) + 1) < bound)
                                expected = i;
                        QCOMPARE(walk.firstBelow(count, bound), expected);
                    }
                }
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestSmallStates)
#include "tst_smallstates.moc"
