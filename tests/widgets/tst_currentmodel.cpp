#include "model/synapse.h"
#include "widgets/currentmodel.h"

#include <QtTest>

#include <cmath>

using namespace cleftsim;

class TestCurrentModel : public QObject {
    Q_OBJECT
private slots:
    void processWideLawsReadTheCurrentSet();
};

void TestCurrentModel::processWideLawsReadTheCurrentSet()
{
    model().reset();
    model().LPC.Emax = 0;
    QCOMPARE(SpikePotential(1.0), 0.0);
    QCOMPARE(ReleaseProbability(0.0), ReleaseProbability(DefaultParameterSet, 20, 20.0));
    model().LPC.tc = 5.0;
    QVERIFY(std::fabs(ConductanceShape(5.0) - 1.0) <= 1e-15);
    model().reset();
}

QTEST_GUILESS_MAIN(TestCurrentModel)
#include "tst_currentmodel.moc"
