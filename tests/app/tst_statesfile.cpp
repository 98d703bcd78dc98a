#include "app/mainwindow.h"
#include "app/startup.h"
#include "model/parametertable.h"
#include "restoreeditors.h"
#include "run/statesfile.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"

#include <QtTest>

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>

using namespace cleftsim;
using namespace cleftsim::test;

// States files through the real main window and editors: a saved session
// comes back field by field in a fresh program, and a file that is not a
// valid states file changes nothing.
class TestStatesFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void savedSessionComesBackInAFreshWindow();
    void badFilesAreRefused_data();
    void badFilesAreRefused();
    void declinedConfirmationChangesNothing();
    void fullTableComesBack();
    void unsavedEditsComeBack();
    void unsavedEditsAreAskedFor_data();
    void unsavedEditsAreAskedFor();
    void saveDialogAddsTheExtension();
    void failedSaveNamesTheFile();

private:
    // Stores three states through the editors and restores the second.
    void makeSession();
    QStringList listTexts() const;
    QString editorText(int form, const char *name) const;

    std::unique_ptr<MainWindow> m_main;
    QStringList m_errors;
    QStringList m_questions;
    bool m_answer = true;
    QTemporaryDir m_dir;
};

void TestStatesFile::initTestCase()
{
    applyClassicLook(*qApp);
    fixNumberFormat();
    QVERIFY(m_dir.isValid());
}

void TestStatesFile::init()
{
    m_main = createWindowSet();
    m_main->setErrorPresenter([this](const QString &message) { m_errors << message; });
    m_main->setConfirmer([this](const QString &question) {
        m_questions << question;
        return m_answer;
    });
    m_errors.clear();
    m_questions.clear();
    m_answer = true;
}

void TestStatesFile::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

void TestStatesFile::makeSession()
{
    WindowSet &w = windows();
    restoreScheme(12, 0.75, -40);
    restorePresynaptic(30, -60, 2.0, 4.0, 0.2);
    QVERIFY(m_main->Store());
    w.csForm0->setBackgroundChecked(true);
    restoreSubsynaptic(0.5, 3.0, 0.125);
    QVERIFY(m_main->Store());
    restoreScheme(3, 9.99, 40);
    QVERIFY(m_main->Store());
    m_main->listBox()->setCurrentRow(2);
    m_main->RestoreBtnClick();
    QCOMPARE(model().LPI.Name, std::string("2: 1>+GmaxtcGb"));
}

QStringList TestStatesFile::listTexts() const
{
    QStringList texts;
    for (int i = 0; i < m_main->listBox()->count(); ++i)
        texts << m_main->listBox()->item(i)->text();
    return texts;
}

QString TestStatesFile::editorText(int form, const char *name) const
{
    auto *e = windows().forms[form]->findChild<QLineEdit *>(QLatin1String(name));
    return e ? e->text() : QString();
}

void TestStatesFile::savedSessionComesBackInAFreshWindow()
{
    makeSession();
    const ModelState saved = model();
    const QStringList texts = listTexts();
    const QString path = m_dir.filePath("session.json");
    QVERIFY(m_main->saveStates(path));
    QVERIFY(m_errors.isEmpty());

    cleanup();
    init();
    QCOMPARE(model().StoredCount, 0);
    QVERIFY(m_main->openStates(path));
    QVERIFY(m_errors.isEmpty());
    QVERIFY(m_questions.isEmpty()); // only "0: default" was there to lose
    const ModelState &m = model();
    QCOMPARE(m.StoredCount, saved.StoredCount);
    for (int slot = 0; slot <= saved.StoredCount; ++slot) {
        const ParameterSet &a = saved.StoredStates[std::size_t(slot)];
        const ParameterSet &b = m.StoredStates[std::size_t(slot)];
        QCOMPARE(b.Name, a.Name);
        for (const ParamInfo &info : parameterTable())
            QVERIFY2(fieldValue(b, info.field) == fieldValue(a, info.field),
                qPrintable(QStringLiteral("slot %1 %2").arg(slot).arg(info.name)));
    }
    QCOMPARE(listTexts(), texts);
    QVERIFY(m.LPI == saved.LPI);
    QVERIFY(sameModel(m.LPC, saved.LPI));
    // The editors show the initial state, switch and Gb included.
    QVERIFY(windows().forms[0]->findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->isChecked());
    QCOMPARE(editorText(1, "MaskEdit1"), QStringLiteral("0.75"));
    QCOMPARE(editorText(3, "MaskEdit3"), QStringLiteral("0.125"));
    QCOMPARE(editorText(3, "MaskEdit2"), QStringLiteral("0.50"));
    // A store goes on from the opened table.
    restoreScheme(4, 0.75, -40);
    QVERIFY(m_main->Store());
    QCOMPARE(model().LPC.Name, std::string("4: 2>n4"));
}

void TestStatesFile::badFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("named"); // what the message must name
    StatesSession session;
    session.states = {DefaultParameterSet, DefaultParameterSet};
    session.states[1].Name = "1: 0>Rg";
    session.states[1].Rg = 0.75;
    session.initial = 1;
    const QByteArray good = QByteArray::fromStdString(statesFileText(session));
    const auto with = [&](const char *from, const char *to) { return QByteArray(good).replace(from, to); };
    QByteArray many = good;
    for (int i = 2; i <= 16; ++i)
        many.replace("  ]\n}",
            QByteArray(",\n    {\"Name\": \"") + QByteArray::number(i)
                + ": 1>\", \"BackgroundOn\": 0, \"N\": 10, \"Rg\": 0.50, \"V2\": -63, \"Emax\": 20, \"V1r\": "
                  "-70, "
                  "\"du\": 1.00, \"ex\": 5.00, \"gf\": 0.1500, \"Gmax\": 0.20, \"tc\": 2.50, \"Gb\": "
                  "0.000}\n  ]\n}");
    many.replace("}\n,", "},");
    // Every refusal of the reader is in tests/run; these are one of each
    // kind, to see that the window changes nothing and names the file.
    QTest::newRow("not JSON") << QByteArray("161 1 10000\r\n0.000 \r\n") << "not a valid JSON file";
    QTest::newRow("Rg out of range") << with("\"Rg\": 0.75", "\"Rg\": 10.00") << "Rg 10 out of range";
    QTest::newRow("duplicate member")
        << with("\"Rg\": 0.75", "\"Rg\": 0.75, \"Rg\": 3.00") << "the member \"Rg\" given twice";
    QTest::newRow("name with a newline and a bell")
        << with("1: 0>Rg", "1: a\\nb\\u0007") << "holds a control character";
    QTest::newRow("too many states") << many << "17 states";
    QTest::newRow("huge") << QByteArray(good).insert(1, QByteArray(int(MaxStatesFileBytes), ' '))
                          << "too large";
}

void TestStatesFile::badFilesAreRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, named);
    restoreScheme(7, 0.75, -40);
    QVERIFY(m_main->Store());
    restoreScheme(8, 0.75, -40); // an edit not stored
    const ModelState before = model();
    const QStringList texts = listTexts();
    const QString path = m_dir.filePath("bad.json");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(text), text.size());
    f.close();

    QVERIFY(!m_main->openStates(path));
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].contains(named), qPrintable(m_errors[0]));
    QVERIFY(m_errors[0].contains("bad.json"));
    QVERIFY(m_questions.isEmpty());
    const ModelState &m = model();
    QCOMPARE(m.StoredCount, before.StoredCount);
    QVERIFY(m.StoredStates == before.StoredStates);
    QVERIFY(m.LPI == before.LPI);
    QVERIFY(m.LPC == before.LPC);
    QCOMPARE(listTexts(), texts);
    QCOMPARE(editorText(1, "SpinEditN"), QStringLiteral("8"));
}

void TestStatesFile::declinedConfirmationChangesNothing()
{
    const QString path = m_dir.filePath("default.json");
    QVERIFY(m_main->saveStates(path));
    makeSession();
    const ModelState before = model();
    m_answer = false;
    QVERIFY(!m_main->openStates(path));
    QCOMPARE(m_questions.size(), 1);
    QVERIFY(m_questions[0].contains("0: default"));
    QVERIFY(model().StoredStates == before.StoredStates);
    QVERIFY(model().LPI == before.LPI);
    QCOMPARE(m_main->listBox()->count(), 4);
    m_answer = true;
    QVERIFY(m_main->openStates(path));
    QCOMPARE(m_main->listBox()->count(), 1);
    QCOMPARE(model().StoredCount, 0);
    QVERIFY(sameModel(model().LPC, DefaultParameterSet));
    QCOMPARE(editorText(3, "MaskEdit3"), QStringLiteral("0.000"));
}

void TestStatesFile::fullTableComesBack()
{
    for (int n = 1; n <= 15; ++n) {
        restoreScheme(n, 0.75, -40);
        QVERIFY(m_main->Store());
    }
    QCOMPARE(model().StoredCount, 15);
    const StatesSession saved = sessionOf(model());
    const QStringList texts = listTexts();
    const QString path = m_dir.filePath("full.json");
    QVERIFY(m_main->saveStates(path));

    cleanup();
    init();
    QVERIFY(m_main->openStates(path));
    QVERIFY(m_errors.isEmpty());
    QCOMPARE(model().StoredCount, 15);
    QCOMPARE(listTexts(), texts);
    QCOMPARE(listTexts().size(), 16);
    QVERIFY(sessionOf(model()).states == saved.states);
    QCOMPARE(model().LPI.Name, std::string("15: 14>n15"));
    QCOMPARE(editorText(1, "SpinEditN"), QStringLiteral("15"));
    // The table is full again: a 16th store is refused.
    restoreScheme(16, 0.75, -40);
    QVERIFY(!m_main->Store());
    QCOMPARE(m_errors.size(), 1);
}

void TestStatesFile::unsavedEditsComeBack()
{
    // n set to 12 and not stored: the file keeps it beside "0: default".
    restoreScheme(12, 0.50, -63);
    QCOMPARE(model().LPC.N, 12);
    QCOMPARE(model().StoredCount, 0);
    const QString path = m_dir.filePath("edited.json");
    QVERIFY(m_main->saveStates(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY2(text.contains("\"current\": {\"BackgroundOn\": 0, \"N\": 12, \"Rg\": 0.50"), text.constData());

    cleanup();
    init();
    QVERIFY(m_main->openStates(path));
    QVERIFY(m_questions.isEmpty());
    QCOMPARE(model().StoredCount, 0);
    QCOMPARE(model().LPI.Name, std::string("0: default"));
    QVERIFY(model().LPI == DefaultParameterSet);
    QCOMPARE(model().LPC.N, 12);
    QCOMPARE(model().LPC.Name, std::string("0: default"));
    QCOMPARE(editorText(1, "SpinEditN"), QStringLiteral("12"));
    // A Store names it as it would have before.
    QVERIFY(m_main->Store());
    QCOMPARE(model().LPC.Name, std::string("1: 0>n12"));
    // Saved again with nothing unstored, the file has no current set.
    QVERIFY(m_main->saveStates(path));
    f.close(); // the save put a new file in its place
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(!f.readAll().contains("\"current\""));
}

void TestStatesFile::unsavedEditsAreAskedFor_data()
{
    QTest::addColumn<bool>("stored"); // a state stored besides "0: default"
    QTest::addColumn<bool>("edited"); // an edit not stored
    QTest::addColumn<QString>("asked"); // what the question names; empty: none asked
    QTest::newRow("nothing to lose") << false << false << "";
    QTest::newRow("an edit") << false << true << "replaces the current parameters, which are not stored";
    QTest::newRow("a stored state") << true << false
                                    << "replaces the stored states other than \"0: default\".";
    QTest::newRow("both")
        << true << true << "replaces the stored states other than \"0: default\" and the current parameters";
}

void TestStatesFile::unsavedEditsAreAskedFor()
{
    QFETCH(bool, stored);
    QFETCH(bool, edited);
    QFETCH(QString, asked);
    const QString path = m_dir.filePath("default.json");
    QVERIFY(m_main->saveStates(path));
    if (stored) {
        restoreScheme(5, 0.50, -63);
        QVERIFY(m_main->Store());
    }
    if (edited)
        restoreScheme(12, 0.50, -63);
    const ModelState before = model();
    m_answer = false;
    QCOMPARE(m_main->openStates(path), asked.isEmpty());
    QCOMPARE(m_questions.size(), asked.isEmpty() ? 0 : 1);
    if (asked.isEmpty())
        return;
    QVERIFY2(m_questions[0].contains(asked), qPrintable(m_questions[0]));
    // Declined, nothing changes: neither the table nor the edit.
    QVERIFY(model().StoredStates == before.StoredStates);
    QVERIFY(model().LPC == before.LPC);
    QVERIFY(model().LPI == before.LPI);
    QCOMPARE(editorText(1, "SpinEditN"), QString::number(before.LPC.N));
    m_answer = true;
    QVERIFY(m_main->openStates(path));
    QVERIFY(model().LPC == DefaultParameterSet);
    QCOMPARE(model().StoredCount, 0);
}

void TestStatesFile::saveDialogAddsTheExtension()
{
    // The real dialog, answered as a user would: the name typed without ".json".
    QTimer answer;
    bool answered = false;
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || answered)
            return;
        answered = true;
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(m_dir.filePath("typed"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    answer.start(20);
    m_main->fileMenu()->findChild<QAction *>(QStringLiteral("SaveStates1"))->trigger();
    QVERIFY(answered);
    QVERIFY(m_errors.isEmpty());
    QVERIFY(QFile::exists(m_dir.filePath("typed.json")));
    QVERIFY(!QFile::exists(m_dir.filePath("typed")));

    // So does a name from the replacement of the dialog; one with an extension keeps it.
    m_main->setStatesFileChooser([this](bool) { return m_dir.filePath("chosen"); });
    m_main->SaveStatesClick();
    QVERIFY(QFile::exists(m_dir.filePath("chosen.json")));
    m_main->setStatesFileChooser([this](bool) { return m_dir.filePath("kept.states"); });
    m_main->SaveStatesClick();
    QVERIFY(QFile::exists(m_dir.filePath("kept.states")));
}

void TestStatesFile::failedSaveNamesTheFile()
{
    QFile plain(m_dir.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString path = m_dir.filePath("plain/states.json");
    QVERIFY(!m_main->saveStates(path));
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].startsWith(QDir::toNativeSeparators(path) + QStringLiteral(" could not be saved: ")),
        qPrintable(m_errors[0]));
    QVERIFY(!m_errors[0].endsWith(QStringLiteral("saved: ")));
}

QTEST_MAIN(TestStatesFile)
#include "tst_statesfile.moc"
