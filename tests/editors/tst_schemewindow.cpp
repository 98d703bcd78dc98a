#include "app/mainwindow.h"
#include "app/startup.h"
#include "editors/schemewindow.h"
#include "editorspies.h"
#include "model/rounding.h"
#include "model/synapse.h"
#include "restoreeditors.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QClipboard>
#include <QLabel>
#include <QMap>
#include <QPalette>
#include <QtTest>

using namespace cleftsim;
using namespace cleftsim::test;

// One step of a user's entry into an edit: typed text, a key with its
// modifiers, or text pasted from the clipboard.
struct Keys {
    QString text;
    Qt::Key key = Qt::Key_unknown;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString pasted;
};
Q_DECLARE_METATYPE(QList<Keys>)

namespace {

Keys typed(const QString &t)
{
    return Keys {t, Qt::Key_unknown, Qt::NoModifier, QString()};
}

Keys key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    return Keys {QString(), k, m, QString()};
}

Keys paste(const QString &t)
{
    return Keys {QString(), Qt::Key_unknown, Qt::NoModifier, t};
}

const Keys SelectAll = key(Qt::Key_A, Qt::ControlModifier);

void enter(QLineEdit *edit, const QList<Keys> &keys)
{
    edit->setFocus();
    for (const Keys &k : keys) {
        if (!k.pasted.isEmpty()) {
            QGuiApplication::clipboard()->setText(k.pasted);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        } else if (!k.text.isEmpty()) {
            QTest::keyClicks(edit, k.text);
        } else
            QTest::keyClick(edit, k.key, k.modifiers);
    }
}

QString fixed(double x, int decimals)
{
    return QString::fromStdString(formatFixed(x, decimals));
}

} // namespace

class TestSchemeWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void failureRateExamples_data();
    void failureRateExamples();
    void labelsAtStart();
    void totalResistanceFollowsN_data();
    void totalResistanceFollowsN();
    void failureRowWithSwitch_data();
    void failureRowWithSwitch();
    void failureChartFrame_data();
    void failureChartFrame();
    void failureChartCurve();
    void failureChartFlatWithoutBackground();
    void failureChartOnlyWithSwitch();
    void clearingTable_data();
    void clearingTable();
    void badInput_data();
    void badInput();
    void halfTypedNumberWrittenBackOnLeaving();
    void restoreWritesTheEditors();
    void formPaintShowsOtherWindowsEdits();
    void paintingAsksForNoFurtherPaint();
    void picturesReturnAfterNBackAndForth();
    void morphologyShowsThroughTheScheme();
    void overlayLabelsLieOverTheScheme();
    void captionsReadOnTheirPicture_data();
    void captionsReadOnTheirPicture();

private:
    SchemeWindow *form() const { return static_cast<SchemeWindow *>(windows().forms[1]); }
    template <class T> T *child(const char *name) const
    {
        T *c = form()->findChild<T *>(QLatin1String(name));
        if (!c)
            qFatal("no control %s", name);
        return c;
    }
    QString labelText(const char *name) const { return child<QLabel>(name)->text(); }
    void switchBackground(bool on) { windows().csForm0->setBackgroundChecked(on); }
    // Sets a field behind the windows' backs, as another window's edit would.
    void setGb(double gb) { model().LPC.Gb = gb; }

    std::unique_ptr<MainWindow> m_main;
};

void TestSchemeWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
    m_main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
}

void TestSchemeWindow::cleanup()
{
    windows() = WindowSet {};
    m_main.reset();
}

void TestSchemeWindow::failureRateExamples_data()
{
    QTest::addColumn<double>("Gb");
    QTest::addColumn<double>("Rg");
    QTest::addColumn<double>("V");
    QTest::addColumn<double>("expected");
    const double e = std::exp(1.0);
    QTest::newRow("defaults: 0.85^10") << 0.0 << 0.5 << -63.0 << std::pow(0.85, 10);
    QTest::newRow("no gap resistance") << 0.1 << 0.0 << 40.0 << std::pow(0.85, 10);
    QTest::newRow("background, V = 0") << 0.1 << 0.5 << 0.0 << std::pow(0.85, 10);
    // Gap drop -21 mV: a = e^4.2.
    QTest::newRow("background, -63 mV") << 0.1 << 0.5 << -63.0 << std::pow(0.85, 10 * std::pow(e, 4.2));
    // Gap drop +13.33 mV: a = e^(-2.667) = 0.0695.
    QTest::newRow("background, +40 mV") << 0.1 << 0.5 << 40.0 << std::pow(0.85, 10 * std::exp(-40.0 / 15));
}

void TestSchemeWindow::failureRateExamples()
{
    QFETCH(double, Gb);
    QFETCH(double, Rg);
    QFETCH(double, V);
    QFETCH(double, expected);
    ParameterSet p;
    p.Gb = Gb;
    p.Rg = Rg;
    QVERIFY(qAbs(FailureRate(p, V) - expected) < 1e-12);
}

void TestSchemeWindow::labelsAtStart()
{
    QCOMPARE(labelText("Label14"), QStringLiteral("0.50"));
    QCOMPARE(labelText("Label19"), QStringLiteral("0.20"));
    QCOMPARE(labelText("Label23"), QStringLiteral("19.7"));
    QCOMPARE(labelText("Label21"), QStringLiteral("N  ="));
    QCOMPARE(child<SpinEdit>("SpinEditN")->text(), QStringLiteral("10"));
    QCOMPARE(child<MaskEdit>("MaskEdit1")->text(), QStringLiteral("0.50"));
    QCOMPARE(child<SpinEdit>("SpinEditV2")->text(), QStringLiteral("-63"));
    QCOMPARE(form()->outerWidth(), 570);
}

void TestSchemeWindow::totalResistanceFollowsN_data()
{
    QTest::addColumn<QString>("typedN");
    QTest::addColumn<int>("N");
    QTest::addColumn<QString>("resistance");
    QTest::addColumn<QString>("failureRate");
    QTest::newRow("1") << "1" << 1 << "5.00"
                       << "85.0";
    QTest::newRow("3") << "3" << 3 << "1.67"
                       << "61.4";
    QTest::newRow("20") << "20" << 20 << "0.25"
                        << "3.9";
}

void TestSchemeWindow::totalResistanceFollowsN()
{
    QFETCH(QString, typedN);
    QFETCH(int, N);
    QFETCH(QString, resistance);
    QFETCH(QString, failureRate);
    enter(child<SpinEdit>("SpinEditN"), {SelectAll, typed(typedN)});
    QCOMPARE(model().LPC.N, N);
    QCOMPARE(labelText("Label14"), resistance);
    QCOMPARE(labelText("Label23"), failureRate);
}

void TestSchemeWindow::failureRowWithSwitch_data()
{
    QTest::addColumn<double>("Gb");
    QTest::addColumn<QString>("typedV2");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("rate");
    QTest::newRow("Gb 0, -63 mV") << 0.0 << "-63"
                                  << "N  (-63mV)="
                                  << "19.7";
    QTest::newRow("Gb 0.1, -63 mV") << 0.1 << "-63"
                                    << "N  (-63mV)="
                                    << "0.0";
    QTest::newRow("Gb 0.1, 0 mV") << 0.1 << "0"
                                  << "N  (0mV)="
                                  << "19.7";
    QTest::newRow("Gb 0.1, 40 mV") << 0.1 << "40"
                                   << "N  (40mV)="
                                   << "89.3";
    QTest::newRow("Gb 0.1, -150 mV") << 0.1 << "-150"
                                     << "N  (-150mV)="
                                     << "0.0";
}

void TestSchemeWindow::failureRowWithSwitch()
{
    QFETCH(double, Gb);
    QFETCH(QString, typedV2);
    QFETCH(QString, row);
    QFETCH(QString, rate);
    switchBackground(true);
    setGb(Gb);
    enter(child<SpinEdit>("SpinEditV2"), {SelectAll, typed(typedV2)});
    QCOMPARE(model().LPC.V2, typedV2.toDouble());
    QCOMPARE(labelText("Label21"), row);
    QCOMPARE(labelText("Label23"), rate);
    // The row's right edges stay put and the subscript 0 follows the N.
    QLabel *n0 = child<QLabel>("Label21");
    QCOMPARE(n0->x() + n0->width(), 464);
    QCOMPARE(child<QLabel>("Label22")->x(), n0->x() + 11);
    QLabel *value = child<QLabel>("Label23");
    QCOMPARE(value->x() + value->width(), 503);
}

void TestSchemeWindow::failureChartFrame_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<bool>("grey"); // grey of the frame, else the silver ground
    const struct {
        const char *name;
        int x, y;
        bool grey;
    } rows[] = {
        {"ground", 60, 40, false},
        {"rate axis top", 140, 6, true},
        {"rate axis bottom", 140, 111, true},
        {"above the rate axis", 140, 5, false},
        {"minor rate tick", 143, 96, true},
        {"minor rate tick end", 144, 96, false},
        {"major rate tick 50 %", 145, 56, true},
        {"major rate tick 50 % end", 146, 56, false},
        {"major rate tick 100 %", 145, 6, true},
        {"major rate tick 100 % end", 146, 6, false},
        {"potential axis left", 0, 106, true},
        {"potential axis right", 179, 106, true},
        {"minor potential tick +40 mV", 180, 109, true},
        {"right of the potential axis", 181, 106, false},
        {"minor potential tick -10 mV", 130, 109, true},
        {"minor potential tick end", 130, 110, false},
        {"minor potential tick -140 mV", 0, 109, true},
        {"major potential tick -50 mV", 90, 111, true},
        {"beside the major tick", 91, 111, false},
        {"major potential tick -100 mV", 40, 111, true},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << QPoint(r.x, r.y) << r.grey;
}

// The empty frame of the failure-rate chart, framed twice over a drawn curve:
// the curve is gone and the second framing changes nothing.
void TestSchemeWindow::failureChartFrame()
{
    QFETCH(QPoint, pixel);
    QFETCH(bool, grey);
    switchBackground(true);
    form()->EmptyChart();
    const Canvas &c = child<FigureView>("FailureChart")->canvas();
    const QImage once = c.image().copy();
    form()->EmptyChart();
    QCOMPARE(c.image(), once);
    const QRgb greyRgb = colors::Grey.rgb() & 0xffffff, silverRgb = colors::Silver.rgb() & 0xffffff;
    QCOMPARE(c.rgb(pixel.x(), pixel.y()), grey ? greyRgb : silverRgb);

    // Only the two frame colours are left; the labels, the clipped "100" at
    // the top edge and the upward title right of the axis are all there.
    auto inkIn = [&c, greyRgb](const QRect &r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += c.rgb(x, y) == greyRgb;
        return n;
    };
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            QVERIFY(c.rgb(x, y) == greyRgb || c.rgb(x, y) == silverRgb);
    QVERIFY(inkIn(QRect(QPoint(40, 124), QPoint(189, 140))) > 30); // potential, V2 (mV)
    QVERIFY(inkIn(QRect(QPoint(148, 0), QPoint(170, 9))) > 5); // 100, clipped at the top
    // ... and clipped, not moved down into the raster.
    Canvas hundred(c.width(), c.height(), colors::Silver);
    hundred.setFontColor(colors::Grey);
    hundred.setBrushStyle(Canvas::BrushStyle::Clear);
    hundred.textOut(148, -2, QStringLiteral("100"));
    for (int y = 0; y < 10; ++y)
        for (int x = 147; x < 176; ++x)
            QCOMPARE(c.rgb(x, y), hundred.rgb(x, y));
    QVERIFY(inkIn(QRect(QPoint(176, 0), QPoint(189, 93))) > 30); // failure rate (%)
    QCOMPARE(inkIn(QRect(QPoint(181, 94), QPoint(189, 123))), 0); // nothing below the title
}

void TestSchemeWindow::failureChartCurve()
{
    switchBackground(true);
    setGb(0.10);
    form()->FailuresChart();
    const Canvas &c = child<FigureView>("FailureChart")->canvas();
    const QRgb navy = colors::Navy.rgb() & 0xffffff;
    QCOMPARE(c.rgb(180, 17), navy); // +40 mV: 89.3 %
    QCOMPARE(c.rgb(140, 86), navy); // 0 mV: 19.7 %
    for (int x = 1; x <= 122; ++x) { // -139 to -18 mV: below 0.5 %
        QCOMPARE(c.rgb(x, 106), navy);
        if (x <= 115) // the flat part, away from where it lifts off
            QVERIFY(c.rgb(x, 104) != navy && c.rgb(x, 108) != navy);
    }
    QVERIFY(c.rgb(123, 105) == navy || c.rgb(123, 106) != navy); // the curve lifts off at -17 mV
    QCOMPARE(c.rgb(140, 30), colors::Grey.rgb() & 0xffffff); // axis of the frame
    QCOMPARE(c.rgb(60, 40), colors::Silver.rgb() & 0xffffff);
}

void TestSchemeWindow::failureChartFlatWithoutBackground()
{
    switchBackground(true);
    const Canvas &c = child<FigureView>("FailureChart")->canvas();
    const QRgb navy = colors::Navy.rgb() & 0xffffff;
    for (int x = 1; x <= 180; ++x) {
        QCOMPARE(c.rgb(x, 86), navy);
        QVERIFY(c.rgb(x, 80) != navy);
        QVERIFY(c.rgb(x, 84) != navy);
        QVERIFY(c.rgb(x, 88) != navy);
        QVERIFY(c.rgb(x, 92) != navy);
    }
}

void TestSchemeWindow::failureChartOnlyWithSwitch()
{
    Canvas &c = child<FigureView>("FailureChart")->canvas();
    c.clear(colors::White);
    form()->FailuresChart();
    QCOMPARE(c.rgb(140, 86), colors::White.rgb() & 0xffffff);
    enter(child<SpinEdit>("SpinEditN"), {key(Qt::Key_Down)});
    QCOMPARE(c.rgb(140, 86), colors::White.rgb() & 0xffffff);
}

// Which figures an edit clears, and whether the failure-rate row and chart
// are computed again.
void TestSchemeWindow::clearingTable_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QList<Keys>>("keys");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("isv");
    QTest::addColumn<int>("histograms");
    QTest::addColumn<bool>("chart");
    QTest::newRow("N") << "SpinEditN" << QList<Keys> {key(Qt::Key_Down)} << int(Param::N) << 1 << 1 << 1
                       << true;
    QTest::newRow("Rg") << "MaskEdit1" << QList<Keys> {key(Qt::Key_Home), typed("7")} << int(Param::Rg) << 1
                        << 1 << 1 << true;
    QTest::newRow("V2") << "SpinEditV2" << QList<Keys> {key(Qt::Key_Up)} << int(Param::V2) << 1 << 0 << 1
                        << false;
}

void TestSchemeWindow::clearingTable()
{
    QFETCH(QString, edit);
    QFETCH(QList<Keys>, keys);
    QFETCH(int, param);
    QFETCH(int, records);
    QFETCH(int, isv);
    QFETCH(int, histograms);
    QFETCH(bool, chart);
    switchBackground(true);
    Canvas &c = child<FigureView>("FailureChart")->canvas();
    c.clear(colors::White);
    // gf changed behind the window's back shows whether the row is computed again.
    model().LPC.gf = 0.5;

    ChangeSpy spies;
    enter(child<QLineEdit>(edit.toLatin1().constData()), keys);
    QCOMPARE(spies.records, records);
    QCOMPARE(spies.isv, isv);
    QCOMPARE(spies.histograms, histograms);
    QCOMPARE(spies.shown, QList<Param> {Param(param)});
    QCOMPARE(c.rgb(140, 30) != (colors::White.rgb() & 0xffffff), chart);
    QCOMPARE(labelText("Label23"), fixed(100 * FailureRate(model().LPC.V2), 1));
}

void TestSchemeWindow::badInput_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QList<Keys>>("keys");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("N 55 -> 20") << "SpinEditN" << QList<Keys> {SelectAll, typed("55")} << 20.0 << "20";
    QTest::newRow("N 0 -> 1") << "SpinEditN" << QList<Keys> {SelectAll, typed("0")} << 1.0 << "1";
    QTest::newRow("N -5 -> 1") << "SpinEditN" << QList<Keys> {SelectAll, typed("-5")} << 1.0 << "1";
    QTest::newRow("N emptied") << "SpinEditN" << QList<Keys> {SelectAll, key(Qt::Key_Backspace)} << 1.0 << "";
    QTest::newRow("N emptied, then 7")
        << "SpinEditN"
        << QList<Keys> {key(Qt::Key_End), key(Qt::Key_Backspace), key(Qt::Key_Backspace), typed("7")} << 7.0
        << "7";
    QTest::newRow("N letters refused") << "SpinEditN" << QList<Keys> {typed("abc")} << 10.0 << "10";
    QTest::newRow("N shifted letter")
        << "SpinEditN" << QList<Keys> {key(Qt::Key_End), key(Qt::Key_A, Qt::ShiftModifier)} << 10.0 << "10";
    QTest::newRow("N pasted 15") << "SpinEditN" << QList<Keys> {SelectAll, paste("15")} << 15.0 << "15";
    QTest::newRow("N pasted text") << "SpinEditN" << QList<Keys> {SelectAll, paste("twelve")} << 1.0 << "1";
    QTest::newRow("N pasted 99999") << "SpinEditN" << QList<Keys> {SelectAll, paste("99999")} << 20.0 << "20";
    QTest::newRow("V2 pasted -80.5") << "SpinEditV2" << QList<Keys> {SelectAll, paste("-80.5")} << -150.0
                                     << "-150";
    QTest::newRow("Rg pasted 1.25") << "MaskEdit1" << QList<Keys> {SelectAll, paste("1.25")} << 1.25
                                    << "1.25";
    QTest::newRow("Rg pasted text") << "MaskEdit1" << QList<Keys> {SelectAll, paste("abcd")} << 0.5 << "0.50";
    QTest::newRow("N digits past 4") << "SpinEditN" << QList<Keys> {SelectAll, typed("123456")} << 20.0
                                     << "20";
    QTest::newRow("N down at 1") << "SpinEditN" << QList<Keys> {SelectAll, typed("1"), key(Qt::Key_Down)}
                                 << 1.0 << "1";
    QTest::newRow("N up at 20") << "SpinEditN" << QList<Keys> {SelectAll, typed("20"), key(Qt::Key_Up)}
                                << 20.0 << "20";
    QTest::newRow("V2 55 -> 40") << "SpinEditV2" << QList<Keys> {SelectAll, typed("55")} << 40.0 << "40";
    QTest::newRow("V2 -200 -> -150") << "SpinEditV2" << QList<Keys> {SelectAll, typed("-200")} << -150.0
                                     << "-150";
    QTest::newRow("V2 lone minus") << "SpinEditV2" << QList<Keys> {SelectAll, typed("-")} << -150.0 << "-";
    QTest::newRow("V2 -80 typed") << "SpinEditV2" << QList<Keys> {SelectAll, typed("-80")} << -80.0 << "-80";
    QTest::newRow("V2 two minus") << "SpinEditV2" << QList<Keys> {SelectAll, typed("--")} << -150.0 << "-150";
    QTest::newRow("V2 12345") << "SpinEditV2" << QList<Keys> {SelectAll, typed("12345")} << 40.0 << "40";
    QTest::newRow("V2 1-") << "SpinEditV2" << QList<Keys> {SelectAll, typed("1-")} << -150.0 << "-150";
    QTest::newRow("Rg 0.75") << "MaskEdit1" << QList<Keys> {key(Qt::Key_Home), typed("0.75")} << 0.75
                             << "0.75";
    QTest::newRow("Rg 0.00") << "MaskEdit1" << QList<Keys> {key(Qt::Key_Home), typed("000")} << 0.0 << "0.00";
    QTest::newRow("Rg 9.99 and past the mask")
        << "MaskEdit1" << QList<Keys> {key(Qt::Key_Home), typed("99999")} << 9.99 << "9.99";
    QTest::newRow("Rg digit deleted")
        << "MaskEdit1" << QList<Keys> {key(Qt::Key_End), key(Qt::Key_Backspace)} << 0.5 << "0.50";
    QTest::newRow("Rg emptied") << "MaskEdit1" << QList<Keys> {SelectAll, key(Qt::Key_Delete)} << 0.5
                                << "0.50";
    QTest::newRow("Rg typed over selection")
        << "MaskEdit1" << QList<Keys> {SelectAll, typed("8")} << 0.5 << "0.50";
    QTest::newRow("Rg letters") << "MaskEdit1" << QList<Keys> {key(Qt::Key_Home), typed("ab-")} << 0.5
                                << "0.50";
    QTest::newRow("Rg deleted after an edit")
        << "MaskEdit1"
        << QList<Keys> {key(Qt::Key_Home), typed("1"), key(Qt::Key_End), key(Qt::Key_Backspace)} << 1.5
        << "1.50";
}

void TestSchemeWindow::badInput()
{
    QFETCH(QString, edit);
    QFETCH(QList<Keys>, keys);
    QFETCH(double, value);
    QFETCH(QString, text);
    auto *control = child<QLineEdit>(edit.toLatin1().constData());
    const ParameterSet &p = model().LPC;
    const auto heldValue = [&] {
        return edit == QLatin1String("SpinEditN") ? p.N : edit == QLatin1String("SpinEditV2") ? p.V2 : p.Rg;
    };
    const double before = heldValue();
    ChangeSpy spies;
    enter(control, keys);
    const double held = heldValue();
    QCOMPARE(held, value);
    // An entry that leaves the value where it was throws no figure away.
    QCOMPARE(spies.records > 0, held != before);
    QCOMPARE(control->text(), text);
    QVERIFY(p.N >= 1 && p.N <= 20);
    QVERIFY(p.V2 >= -150 && p.V2 <= 40);
    QVERIFY(p.Rg >= 0 && p.Rg <= 9.99);
}

void TestSchemeWindow::halfTypedNumberWrittenBackOnLeaving()
{
    auto *v2 = child<SpinEdit>("SpinEditV2");
    enter(v2, {SelectAll, typed("-")});
    QCOMPARE(model().LPC.V2, -150.0);
    QCOMPARE(v2->text(), QStringLiteral("-"));
    QTest::keyClick(v2, Qt::Key_Return);
    QCOMPARE(v2->text(), QStringLiteral("-150"));
    QCOMPARE(model().LPC.V2, -150.0);

    auto *n = child<SpinEdit>("SpinEditN");
    enter(n, {SelectAll, key(Qt::Key_Delete)});
    QCOMPARE(model().LPC.N, 1);
    QCOMPARE(n->text(), QString());
    child<MaskEdit>("MaskEdit1")->setFocus(); // leaving the field
    QCOMPARE(n->text(), QStringLiteral("1"));
    QCOMPARE(labelText("Label14"), QStringLiteral("5.00"));
}

void TestSchemeWindow::restoreWritesTheEditors()
{
    {
        ChangeSpy spies;
        restoreScheme(10, 0.5, -63); // what the editors show already
        QCOMPARE(spies.records, 0);
        QCOMPARE(spies.shown.size(), 0);
    }
    ChangeSpy spies;
    restoreScheme(12, 0.75, -40.4);
    QCOMPARE(model().LPC.N, 12);
    QCOMPARE(model().LPC.Rg, 0.75);
    QCOMPARE(model().LPC.V2, -40.0);
    QCOMPARE(child<SpinEdit>("SpinEditN")->text(), QStringLiteral("12"));
    QCOMPARE(child<MaskEdit>("MaskEdit1")->text(), QStringLiteral("0.75"));
    QCOMPARE(child<SpinEdit>("SpinEditV2")->text(), QStringLiteral("-40"));
    QCOMPARE(spies.shown, (QList<Param> {Param::N, Param::Rg, Param::V2}));
    QCOMPARE(spies.records, 3);
    QCOMPARE(spies.isv, 2);
    QCOMPARE(spies.histograms, 3);
}

void TestSchemeWindow::formPaintShowsOtherWindowsEdits()
{
    model().LPC.Gmax = 0.5;
    model().LPC.gf = 0.5;
    form()->grab();
    QCOMPARE(labelText("Label19"), QStringLiteral("0.50"));
    QCOMPARE(labelText("Label14"), QStringLiteral("0.20"));
    QCOMPARE(labelText("Label23"), QStringLiteral("0.1")); // 0.5^10
    QCOMPARE(child<QLabel>("Label23")->x() + child<QLabel>("Label23")->width(), 503);
}

namespace {

// Counts the paint events of one widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

// The labels refreshed while painting must not ask for another paint of the
// window, or it would repaint for ever.
void TestSchemeWindow::paintingAsksForNoFurtherPaint()
{
    form()->showAndRaise();
    QVERIFY(QTest::qWaitForWindowExposed(form()));
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus(); // no blinking cursor asks for paints
    model().LPC.Gmax = 0.4; // the labels change at the next paint
    PaintCounter counter;
    form()->installEventFilter(&counter);
    form()->update();
    QTRY_VERIFY(counter.paints > 0);
    QCOMPARE(labelText("Label19"), QStringLiteral("0.40"));
    QTest::qWait(200);
    const int settled = counter.paints;
    QTest::qWait(300);
    QCOMPARE(counter.paints, settled);
    QVERIFY(settled <= 3);
}

void TestSchemeWindow::picturesReturnAfterNBackAndForth()
{
    const QImage morphoAtStart = child<FigureView>("MorphoScheme")->canvas().image().copy();
    const QImage schemeAtStart = child<PaintBox>("ElScheme")->render().image().copy();
    auto *n = child<SpinEdit>("SpinEditN");
    // Out-of-range and emptied entries run the handler again from inside
    // itself; the leader must still be erased exactly once per drawing.
    for (const char *value : {"3", "1", "55", "7", "0", "20", "10"})
        enter(n, {SelectAll, typed(QLatin1String(value))});
    enter(n, {SelectAll, key(Qt::Key_Backspace), typed("1"), typed("0")});
    QCOMPARE(model().LPC.N, 10);
    QCOMPARE(child<FigureView>("MorphoScheme")->canvas().image(), morphoAtStart);
    QCOMPARE(child<PaintBox>("ElScheme")->render().image(), schemeAtStart);
}

// The electrical scheme keeps no background of its own: where it draws
// nothing, its left edge shows the right edge of the bouton beneath it.
void TestSchemeWindow::morphologyShowsThroughTheScheme()
{
    const Canvas &morpho = child<FigureView>("MorphoScheme")->canvas();
    const Canvas &scheme = child<PaintBox>("ElScheme")->render();
    int differentPixels = 0;
    for (int y = 100; y < 176; ++y) {
        for (int x = 0; x < 8; ++x) {
            if (scheme.rgb(x, y) != morpho.rgb(165 + x, 10 + y))
                ++differentPixels;
        }
    }
    QCOMPARE(differentPixels, 0);
    const QRgb outline = morpho.rgb(175, 160);
    QCOMPARE(outline, colors::Black.rgb() & 0xffffff);
    QCOMPARE(scheme.rgb(10, 150), outline);
}

void TestSchemeWindow::overlayLabelsLieOverTheScheme()
{
    const QObjectList &children = form()->children();
    const int scheme = children.indexOf(child<QWidget>("ElScheme"));
    for (const char *name : {"BoutonLabel1", "BoutonLabel2", "CleftLabel1", "CleftLabel2", "NeuronLabel1",
             "NeuronLabel2", "NeuronLabel3", "Label1", "Label4", "Label27", "Label28"}) {
        QLabel *label = child<QLabel>(name);
        QVERIFY2(children.indexOf(label) > scheme, name);
        QVERIFY2(child<QWidget>("ElScheme")->geometry().intersects(label->geometry()), name);
    }
}

void TestSchemeWindow::captionsReadOnTheirPicture_data()
{
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("ink"); // the captions' colour
    QTest::newRow("classic") << QColor(212, 208, 200) << QColor(Qt::black) << QColor(Qt::black);
    QTest::newRow("dark") << QColor(53, 53, 53) << QColor(Qt::white) << QColor(Qt::white);
    // A palette whose text is meant for another background than the
    // picture's face: white text of a dark theme on a light face, and the
    // other way round.
    QTest::newRow("light face, white text")
        << QColor(236, 236, 236) << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("dark face, black text") << QColor(40, 40, 40) << QColor(Qt::black) << QColor(Qt::white);
    QTest::newRow("mid grey, just light") << QColor(128, 128, 128) << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("mid grey, just dark") << QColor(127, 127, 127) << QColor(Qt::black) << QColor(Qt::white);
}

void TestSchemeWindow::captionsReadOnTheirPicture()
{
    QFETCH(QColor, window);
    QFETCH(QColor, text);
    QFETCH(QColor, ink);
    // The window set made anew under the palette, as the program starts under it.
    cleanup();
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(g, QPalette::Window, window);
        pal.setColor(g, QPalette::WindowText, text);
    }
    QApplication::setPalette(pal);
    init();
    auto *scheme = child<PaintBox>("ElScheme");
    const Canvas &picture = scheme->render();
    const auto lightness
        = [](const QColor &c) { return (299 * c.red() + 587 * c.green() + 114 * c.blue()) / 1000; };
    QStringList unreadable;
    for (const char *name : {"Label1", "Label4", "Label27", "Label28"}) {
        QLabel *label = child<QLabel>(name);
        // The face behind the caption: the commonest colour of the picture under it.
        const QRect under
            = label->geometry().translated(-scheme->pos()) & QRect(QPoint(0, 0), scheme->size());
        QMap<QRgb, int> counts;
        for (int y = under.top(); y <= under.bottom(); ++y)
            for (int x = under.left(); x <= under.right(); ++x)
                ++counts[picture.rgb(x, y)];
        QVERIFY2(!counts.isEmpty(), name);
        QRgb face = counts.firstKey();
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > counts.value(face))
                face = it.key();
        const QColor shown = label->palette().color(QPalette::Active, QPalette::WindowText);
        if (shown != ink || std::abs(lightness(shown) - lightness(QColor(face))) < 120)
            unreadable << QString::fromLatin1(name);
    }
    QApplication::setPalette(saved);
    QVERIFY2(unreadable.isEmpty(), qPrintable(unreadable.join(QLatin1Char(' '))));
}

QTEST_MAIN(TestSchemeWindow)
#include "tst_schemewindow.moc"
