#include "model/rounding.h"

#include <QtTest>

using namespace cleftsim;

class TestRounding : public QObject {
    Q_OBJECT
private slots:
    void roundHalvesToEven_data();
    void roundHalvesToEven();
    void formatFixed_data();
    void formatFixed();
    void wildValuesSaturate_data();
    void wildValuesSaturate();
};

void TestRounding::roundHalvesToEven_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("expected");
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("-0.5") << -0.5 << 0;
    QTest::newRow("-1.5") << -1.5 << -2;
    QTest::newRow("-2.5") << -2.5 << -2;
    QTest::newRow("32.5") << 32.5 << 32;
    QTest::newRow("77.5") << 77.5 << 78;
    QTest::newRow("2.4") << 2.4 << 2;
    QTest::newRow("-2.6") << -2.6 << -3;
    QTest::newRow("du/step 1.0") << 1.0 / 0.05 << 20;
    QTest::newRow("du/step 0.12") << 0.12 / 0.05 << 2;
}

void TestRounding::roundHalvesToEven()
{
    QFETCH(double, x);
    QFETCH(int, expected);
    QCOMPARE(Round(x), expected);
}

void TestRounding::formatFixed_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Rg") << 0.5 << 2 << "0.50";
    QTest::newRow("V2") << -63.0 << 0 << "-63";
    QTest::newRow("gf") << 0.15 << 4 << "0.1500";
    QTest::newRow("current") << -11.4545454 << 3 << "-11.455";
    QTest::newRow("zero") << 0.0 << 3 << "0.000";
    QTest::newRow("tiny negative") << -0.0001 << 3 << "0.000";
    QTest::newRow("fraction below one") << 0.25 << 2 << "0.25";
    QTest::newRow("failure rate") << 19.687 << 1 << "19.7";
}

void TestRounding::formatFixed()
{
    QFETCH(double, x);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(cleftsim::formatFixed(x, decimals)), expected);
}

void TestRounding::wildValuesSaturate_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("round");
    QTest::addColumn<int>("trunc");
    QTest::newRow("huge") << 1e300 << INT_MAX << INT_MAX;
    QTest::newRow("huge negative") << -1e300 << INT_MIN << INT_MIN;
    QTest::newRow("infinity") << HUGE_VAL << INT_MAX << INT_MAX;
    QTest::newRow("NaN") << std::nan("") << 0 << 0;
    QTest::newRow("just inside") << 2147483646.4 << 2147483646 << 2147483646;
}

void TestRounding::wildValuesSaturate()
{
    QFETCH(double, x);
    QFETCH(int, round);
    QFETCH(int, trunc);
    QCOMPARE(Round(x), round);
    QCOMPARE(Trunc(x), trunc);
}

QTEST_GUILESS_MAIN(TestRounding)
#include "tst_rounding.moc"
