#include "model/random.h"

#include <QDateTime>
#include <QtTest>

#include <cstdint>

using namespace cleftsim;

class TestRandom : public QObject {
    Q_OBJECT
private slots:
    void knownSequence_data();
    void knownSequence();
    void followsTheRecurrence();
    void valuesStayInUnitInterval();
    void seedFromClockIsMillisecondsSinceMidnightUtc();
};

void TestRandom::knownSequence_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QList<quint32>>("states");
    // Worked out by hand from seed * 134775813 + 1 mod 2^32.
    QTest::newRow("seed 0") << quint32(0)
                            << QList<quint32> {1u, 134775814u, 3698175007u, 870078620u, 1172187917u};
    QTest::newRow("seed 12345") << quint32(12345) << QList<quint32> {1655067934u, 1242767767u, 342459380u};
    QTest::newRow("seed 2^32 - 1") << quint32(0xffffffffu)
                                   << QList<quint32> {quint32(4294967296ull - 134775812ull)};
}

void TestRandom::knownSequence()
{
    QFETCH(quint32, seed);
    QFETCH(QList<quint32>, states);
    Generator g(seed);
    for (quint32 s : states) {
        const double r = g.next();
        QCOMPARE(g.seed(), s);
        QCOMPARE(r, double(s) / 4294967296.0);
    }
}

void TestRandom::followsTheRecurrence()
{
    // The same recurrence in 64-bit arithmetic, reduced by hand.
    std::uint64_t s = 987654321u;
    Generator g(static_cast<std::uint32_t>(s));
    for (int i = 0; i < 10000; ++i) {
        s = (s * 134775813ull + 1ull) % 4294967296ull;
        const double r = g.next();
        QCOMPARE(std::uint64_t(g.seed()), s);
        QCOMPARE(r, std::ldexp(double(s), -32));
    }
    g.setSeed(7);
    QCOMPARE(g.seed(), 7u);
}

void TestRandom::valuesStayInUnitInterval()
{
    // The largest state gives the largest value, still below 1.
    Generator g(static_cast<std::uint32_t>((0xffffffffull - 1ull) * 3645876429ull % 4294967296ull));
    // 3645876429 is the inverse of 134775813 mod 2^32, so the next state is 2^32 - 1.
    const double r = g.next();
    QCOMPARE(g.seed(), 0xffffffffu);
    QVERIFY(r < 1.0);
    QVERIFY(r > 0.9999999997);
}

void TestRandom::seedFromClockIsMillisecondsSinceMidnightUtc()
{
    const int before = QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay();
    const std::uint32_t seed = seedFromClock();
    const int after = QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay();
    QVERIFY(seed < 24u * 60 * 60 * 1000);
    if (after >= before) // not across midnight
        QVERIFY2(int(seed) >= before && int(seed) <= after,
            qPrintable(QStringLiteral("%1 not in %2..%3").arg(seed).arg(before).arg(after)));
}

QTEST_GUILESS_MAIN(TestRandom)
#include "tst_random.moc"
