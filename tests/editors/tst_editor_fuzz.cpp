// Types long random keystroke sequences into every editor of the program and
// checks after each keystroke that the model and the main window stay sound.
// The seed is printed; CLEFTSIM_FUZZ_SEED=<n> replays a run.

#include "app/mainwindow.h"
#include "app/startup.h"
#include "model/parameterset.h"
#include "model/rounding.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/windowset.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QtTest>

#include <chrono>
#include <deque>
#include <memory>
#include <random>

using namespace cleftsim;

namespace {

// An editor of the program and the model field it edits (none for the
// experiments' trial counts).
struct Editor {
    QLineEdit *edit = nullptr;
    QString name; // "csForm2.MaskEdit1"
    bool hasField = false; // edits a field of LPC
    Param field = Param::N; // that field
    int decimals = 0; // of a masked edit
};

// Range of each model field as its editor keeps it.
struct Range {
    double low, high;
};

Range rangeOf(Param f)
{
    switch (f) {
    case Param::N: return {1, 20};
    case Param::Rg: return {0.00, 9.99};
    case Param::V2: return {-150, 40};
    case Param::Emax: return {-40, 40};
    case Param::V1r: return {-100, 40};
    case Param::du: return {0.10, 2.00};
    case Param::ex: return {1.00, 9.99};
    case Param::gf: return {0.0, 0.9999};
    case Param::Gmax: return {0.01, 9.99};
    case Param::tc: return {0.50, 9.99};
    case Param::Gb: return {0.0, 9.999};
    case Param::BackgroundOn: return {0, 1};
    }
    return {0, 0};
}

// The main window's value label of a field and its text for a value.
struct Row {
    Param field;
    const char *label;
    int decimals;
    const char *suffix;
};

const Row Rows[] = {
    {Param::N, "Label04v", 0, ""},
    {Param::Rg, "Label05v", 2, " GOhm"},
    {Param::V2, "Label06v", 0, " mV"},
    {Param::Emax, "Label07v", 0, " mV"},
    {Param::V1r, "Label08v", 0, " mV"},
    {Param::du, "Label09v", 2, " msec"},
    {Param::ex, "Label10v", 2, " mV"},
    {Param::gf, "Label11v", 4, ""},
    {Param::Gmax, "Label12v", 2, " nS"},
    {Param::tc, "Label13v", 2, " msec"},
    {Param::Gb, "Label14v", 3, " nS"},
};

bool isHalfTyped(const QString &text)
{
    const QString t = text.trimmed();
    return t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+");
}

} // namespace

class TestEditorFuzz : public QObject {
    Q_OBJECT
private slots:
    void randomKeystrokes();

private:
    void collectEditors();
    void step();
    void typeKey(QLineEdit *edit);
    QString randomPaste();
    void checkInvariants(bool afterLeaving);

    std::unique_ptr<MainWindow> m_main;
    QWidget *m_panel = nullptr;
    QCheckBox *m_switch = nullptr;
    std::vector<Editor> m_editors;
    std::mt19937 m_rng;
    std::deque<QString> m_log; // the last actions, for the failure message
    size_t m_current = 0;
    int m_step = 0;
    quint32 m_seed = 0;
    QString m_failure;
};

void TestEditorFuzz::collectEditors()
{
    struct Known {
        int form;
        const char *name;
        Param field;
    };
    const Known known[] = {
        {1, "SpinEditN", Param::N},
        {1, "MaskEdit1", Param::Rg},
        {1, "SpinEditV2", Param::V2},
        {2, "SpinEditEmax", Param::Emax},
        {2, "SpinEditV1r", Param::V1r},
        {2, "MaskEdit1", Param::du},
        {2, "MaskEdit2", Param::ex},
        {2, "MaskEdit3", Param::gf},
        {3, "MaskEdit1", Param::tc},
        {3, "MaskEdit2", Param::Gmax},
        {3, "MaskEdit3", Param::Gb},
    };
    for (int form = 1; form <= 6; ++form) {
        ChildWindow *f = windows().forms[form];
        QVERIFY(f);
        for (QLineEdit *edit : f->findChildren<QLineEdit *>()) {
            if (!qobject_cast<SpinEdit *>(edit) && !qobject_cast<MaskEdit *>(edit))
                continue;
            Editor e;
            e.edit = edit;
            e.name = f->objectName() + QLatin1Char('.') + edit->objectName();
            for (const Known &k : known) {
                if (k.form == form && edit->objectName() == QLatin1String(k.name)) {
                    e.hasField = true;
                    e.field = k.field;
                }
            }
            if (auto *mask = qobject_cast<MaskEdit *>(edit))
                e.decimals = mask->decimals();
            // Of the experiments only the trial counts are editors.
            if (form >= 4 && edit->objectName() != QLatin1String("SpinEdit1"))
                continue;
            m_editors.push_back(e);
        }
    }
    int fields = 0;
    for (const Editor &e : m_editors)
        fields += e.hasField;
    QCOMPARE(fields, int(std::size(known)));
}

QString TestEditorFuzz::randomPaste()
{
    static const char *const samples[]
        = {"0.05", "3.00", "1.0000", "0.125", "-70", "-", "", " 5", "abc", "99999", "0.00", "9.99", "-0",
            "1e3", "0x10", "2,50", "+7", "\t", "12.345678", "-100", "40", ".5", "5."};
    std::uniform_int_distribution<int> pick(0, 2);
    if (pick(m_rng) == 0) {
        std::uniform_int_distribution<size_t> which(0, std::size(samples) - 1);
        return QString::fromLatin1(samples[which(m_rng)]);
    }
    static const char alphabet[] = "0123456789-.+ ax";
    std::uniform_int_distribution<int> length(0, 8);
    std::uniform_int_distribution<size_t> ch(0, sizeof alphabet - 2);
    QString s;
    for (int n = length(m_rng); n > 0; --n)
        s += QLatin1Char(alphabet[ch(m_rng)]);
    return s;
}

void TestEditorFuzz::typeKey(QLineEdit *edit)
{
    std::uniform_int_distribution<int> kind(0, 99);
    const int k = kind(m_rng);
    QString what;
    if (k < 40) {
        std::uniform_int_distribution<int> digit(0, 9);
        const char c = char('0' + digit(m_rng));
        what = QLatin1Char(c);
        QTest::keyClick(edit, c);
    } else if (k < 44) {
        std::uniform_int_distribution<int> letter(0, 25);
        const char c = char('a' + letter(m_rng));
        what = QLatin1Char(c);
        QTest::keyClick(edit, c);
    } else if (k < 50) {
        what = QStringLiteral("-");
        QTest::keyClick(edit, '-');
    } else if (k < 55) {
        what = QStringLiteral(".");
        QTest::keyClick(edit, '.');
    } else if (k < 63) {
        what = QStringLiteral("Backspace");
        QTest::keyClick(edit, Qt::Key_Backspace);
    } else if (k < 69) {
        what = QStringLiteral("Delete");
        QTest::keyClick(edit, Qt::Key_Delete);
    } else if (k < 75) {
        const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End};
        std::uniform_int_distribution<int> which(0, 3);
        const Qt::Key key = keys[which(m_rng)];
        what = QStringLiteral("arrow %1").arg(int(key), 0, 16);
        QTest::keyClick(edit, key);
    } else if (k < 80) {
        std::uniform_int_distribution<int> up(0, 1);
        const bool isUp = up(m_rng);
        what = isUp ? QStringLiteral("Up") : QStringLiteral("Down");
        QTest::keyClick(edit, isUp ? Qt::Key_Up : Qt::Key_Down);
    } else if (k < 84) {
        what = QStringLiteral("Shift+Home");
        QTest::keyClick(edit, Qt::Key_Home, Qt::ShiftModifier);
    } else if (k < 88) {
        what = QStringLiteral("Ctrl+A");
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    } else if (k < 96) {
        const QString text = randomPaste();
        what = QStringLiteral("paste \"%1\"").arg(text);
        QApplication::clipboard()->setText(text);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    } else if (k < 98) {
        what = QStringLiteral("Ctrl+Z");
        QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    } else {
        what = QStringLiteral("Return");
        QTest::keyClick(edit, Qt::Key_Return);
    }
    m_log.push_back(m_editors[m_current].name + QStringLiteral(": ") + what + QStringLiteral(" -> \"")
        + edit->displayText() + QLatin1Char('"'));
}

void TestEditorFuzz::step()
{
    std::uniform_int_distribution<int> chance(0, 99);
    bool left = false;
    if (chance(m_rng) < 2) {
        m_switch->click();
        m_log.push_back(QStringLiteral("background switch -> %1").arg(m_switch->isChecked()));
    } else {
        if (chance(m_rng) < 6) {
            // The user goes on to the next editor of the program.
            m_current = (m_current + 1) % m_editors.size();
            m_editors[m_current].edit->setFocus();
            left = true;
            m_log.push_back(QStringLiteral("focus ") + m_editors[m_current].name);
        }
        typeKey(m_editors[m_current].edit);
    }
    while (m_log.size() > 12)
        m_log.pop_front();
    checkInvariants(left);
}

void TestEditorFuzz::checkInvariants(bool afterLeaving)
{
    const ModelState &m = model();
    const ParameterSet &p = m.LPC;
    QStringList errors;
    const auto expect = [&errors](bool ok, const QString &what) {
        if (!ok)
            errors << what;
    };

    for (int i = int(Param::N); i <= int(Param::Gb); ++i) {
        const Param f = Param(i);
        const double v = fieldValue(p, f);
        const Range r = rangeOf(f);
        expect(v >= r.low && v <= r.high,
            QStringLiteral("%1 = %2 out of range").arg(QLatin1String(fieldCode(f))).arg(v, 0, 'g', 17));
    }
    expect(p.V2 == std::floor(p.V2) && p.Emax == std::floor(p.Emax) && p.V1r == std::floor(p.V1r),
        QStringLiteral("a potential is not whole"));
    expect(p.Gb <= p.Gmax, QStringLiteral("Gb %1 above Gmax %2").arg(p.Gb).arg(p.Gmax));
    expect(p.BackgroundOn || p.Gb == 0, QStringLiteral("Gb %1 while switched off").arg(p.Gb));
    expect(
        p.BackgroundOn == (m_switch->isChecked() ? 1 : 0), QStringLiteral("switch and BackgroundOn differ"));
    expect(m.SpikeSteps == Round(p.du / TimeStep),
        QStringLiteral("SpikeSteps %1 for du %2").arg(m.SpikeSteps).arg(p.du));

    for (const Row &row : Rows) {
        auto *label = m_panel->findChild<QLabel *>(QLatin1String(row.label));
        if (!label) {
            errors << QStringLiteral("no %1").arg(QLatin1String(row.label));
            continue;
        }
        const QString shown = QString::fromStdString(formatFixed(fieldValue(p, row.field), row.decimals))
            + QLatin1String(row.suffix);
        expect(label->text() == shown,
            QStringLiteral("%1 shows \"%2\", not \"%3\"")
                .arg(QLatin1String(row.label), label->text(), shown));
        const bool differs = fieldValue(p, row.field) != fieldValue(m.LPI, row.field);
        const QColor colour = label->palette().color(QPalette::WindowText);
        expect(colour == (differs ? QColor(255, 0, 0) : QColor(0, 0, 0)),
            QStringLiteral("%1 coloured %2").arg(QLatin1String(row.label), colour.name()));
    }

    // Every editor shows what the model holds once its handler is done; a
    // whole number may be left half-typed (an empty box, a lone sign) while
    // the user is in it.
    for (size_t i = 0; i < m_editors.size(); ++i) {
        const Editor &e = m_editors[i];
        if (auto *spin = qobject_cast<SpinEdit *>(e.edit)) {
            long long v = 0;
            if (SpinEdit::parseInteger(spin->text(), &v)) {
                expect(v >= spin->minValue() && v <= spin->maxValue(),
                    QStringLiteral("%1 shows %2 beyond its bounds").arg(e.name, spin->text()));
                if (e.hasField)
                    expect(double(v) == fieldValue(p, e.field),
                        QStringLiteral("%1 shows \"%2\", the model holds %3")
                            .arg(e.name, spin->text())
                            .arg(fieldValue(p, e.field)));
            } else if (e.hasField) {
                expect(
                    isHalfTyped(spin->text()), QStringLiteral("%1 shows \"%2\"").arg(e.name, spin->text()));
                expect(!(afterLeaving && i != m_current),
                    QStringLiteral("%1 left half-typed \"%2\"").arg(e.name, spin->text()));
            }
        } else if (auto *mask = qobject_cast<MaskEdit *>(e.edit)) {
            const QString model = QString::fromStdString(formatFixed(fieldValue(p, e.field), e.decimals));
            expect(mask->maskText() == model,
                QStringLiteral("%1 shows \"%2\", the model holds %3").arg(e.name, mask->maskText(), model));
        }
    }

    if (!errors.isEmpty() && m_failure.isEmpty()) {
        QStringList log(m_log.begin(), m_log.end());
        m_failure = QStringLiteral("seed %1, step %2: %3\nlast actions:\n  %4")
                        .arg(m_seed)
                        .arg(m_step)
                        .arg(errors.join(QStringLiteral("; ")), log.join(QStringLiteral("\n  ")));
    }
}

void TestEditorFuzz::randomKeystrokes()
{
    bool fromEnv = false;
    m_seed = qEnvironmentVariable("CLEFTSIM_FUZZ_SEED").toUInt(&fromEnv);
    if (!fromEnv)
        m_seed = quint32(std::chrono::steady_clock::now().time_since_epoch().count());
    qInfo("seed %u (replay with CLEFTSIM_FUZZ_SEED=%u)", m_seed, m_seed);
    m_rng.seed(m_seed);

    m_main = createWindowSet();
    m_main->show();
    m_main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    m_panel
        = m_main->centralWidget()->findChild<QWidget *>(QStringLiteral("Panel1"), Qt::FindDirectChildrenOnly);
    QVERIFY(m_panel);
    m_switch = windows().forms[0]->findChild<QCheckBox *>(QStringLiteral("CheckBox1"));
    QVERIFY(m_switch);
    // The user may bring up every window; the experiments start as icons.
    for (ChildWindow *f : windows().forms)
        f->showAndRaise();
    collectEditors();
    QVERIFY(!m_editors.empty());
    m_editors[0].edit->setFocus();

    checkInvariants(false);
    QVERIFY2(m_failure.isEmpty(), qPrintable(m_failure));
    const int steps = qEnvironmentVariableIntValue("CLEFTSIM_FUZZ_STEPS") > 0
        ? qEnvironmentVariableIntValue("CLEFTSIM_FUZZ_STEPS")
        : 2000;
    for (m_step = 1; m_step <= steps && m_failure.isEmpty(); ++m_step)
        step();
    QVERIFY2(m_failure.isEmpty(), qPrintable(m_failure));

    m_main.reset();
    windows() = WindowSet {};
}

QTEST_MAIN(TestEditorFuzz)
#include "tst_editor_fuzz.moc"
