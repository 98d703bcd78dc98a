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
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

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
    void onlyRegularFiles_data();
    void onlyRegularFiles();
    void linkToAFileIsFollowed();
    void unknownMembersSurviveOpenAndSave();
    void dialogsProposeTheLastFile();
    void quitAsksForAChangedSessionFile_data();
    void quitAsksForAChangedSessionFile();
    void neverSavedSessionIsKeptAndReopened();

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
    // The session kept at the end goes to the user's data folder: here one
    // of the test's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data-home")));
    // A fresh home of the test's own, without a Documents folder.
    QVERIFY(QDir(m_dir.path()).mkdir("home"));
    qputenv("HOME", QFile::encodeName(m_dir.filePath("home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
    QVERIFY(MainWindow::lastSessionPath().startsWith(m_dir.path()));
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

void TestStatesFile::onlyRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("link");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("named");
    for (const bool link : {false, true}) {
        const QString via = link ? QStringLiteral(" behind a link") : QString();
        for (const bool save : {false, true}) {
            const QString what = save ? QStringLiteral("save to ") : QStringLiteral("open ");
            QTest::newRow(qPrintable(what + "a named pipe" + via))
                << "pipe" << link << save << "(a named pipe)";
            QTest::newRow(qPrintable(what + "a folder" + via)) << "folder" << link << save << "(a folder)";
        }
        // Read only: a save that slipped through would replace the device.
        QTest::newRow(qPrintable("open a device" + via)) << "device" << link << false << "(a device)";
    }
}

void TestStatesFile::onlyRegularFiles()
{
    QFETCH(QString, kind);
    QFETCH(bool, link);
    QFETCH(bool, save);
    QFETCH(QString, named);
    QTemporaryDir dir(m_dir.filePath("special-XXXXXX"));
    QVERIFY(dir.isValid());
    QString target = dir.filePath("thing.json");
    if (kind == "pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir(dir.path()).mkdir("thing.json"));
    else
        target = QStringLiteral("/dev/null");
    QString path = target;
    if (link) {
        path = dir.filePath("link.json");
        QVERIFY(QFile::link(target, path));
    }
    restoreScheme(7, 0.75, -40);
    QVERIFY(m_main->Store());
    const ModelState before = model();
    // A pipe read would wait for a writer for ever: the refusal comes first.
    QCOMPARE(save ? m_main->saveStates(path) : m_main->openStates(path), false);
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].contains(named) && !m_errors[0].contains('\n'), qPrintable(m_errors[0]));
    QVERIFY2(m_errors[0].contains(QFileInfo(path).fileName()), qPrintable(m_errors[0]));
    QVERIFY(model().StoredStates == before.StoredStates);
    // Nothing replaced the pipe or the folder, and the link is still a link.
    const QFileInfo after(target);
    QVERIFY(kind != "pipe" || (!after.isFile() && after.exists()));
    QVERIFY(kind != "folder" || after.isDir());
    QVERIFY(!link || QFileInfo(path).isSymLink());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(),
        link && kind != "device" ? 2
            : kind == "device"   ? int(link)
                                 : 1);
}

void TestStatesFile::linkToAFileIsFollowed()
{
    QTemporaryDir there(m_dir.filePath("there-XXXXXX"));
    QTemporaryDir here(m_dir.filePath("here-XXXXXX"));
    const QString target = there.filePath("kept.json");
    QVERIFY(m_main->saveStates(target));
    const QString link = here.filePath("link.json");
    QVERIFY(QFile::link(target, link));
    makeSession();
    QVERIFY(m_main->saveStates(link));
    QVERIFY(m_errors.isEmpty());
    // The link stays and leads to the new states; the target was replaced
    // in its own folder, and nothing was left beside the link.
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().toStdString(), statesFileText(sessionOf(model())));
    QCOMPARE(QDir(here.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
        QStringList {"link.json"});
    cleanup();
    init();
    QVERIFY(m_main->openStates(link));
    QCOMPARE(model().StoredCount, 3);
}

void TestStatesFile::unknownMembersSurviveOpenAndSave()
{
    makeSession();
    QString text = QString::fromStdString(statesFileText(sessionOf(model())));
    // A comment at the top and a member a later version gives its states.
    text.replace("\"initial\": 2,", "\"initial\": 2,\n  \"comment\": \"Rg series, day 3\",");
    text.replace("\"Name\": \"1: 0>n12RgV2EmaxV1rduexgf\", ",
        "\"Name\": \"1: 0>n12RgV2EmaxV1rduexgf\", \"colour\": [0, 128, 0], ");
    QVERIFY(text.contains("comment") && text.contains("colour"));
    const QString path = m_dir.filePath("later.json");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
    f.close();
    cleanup();
    init();
    QVERIFY(m_main->openStates(path));
    const QString again = m_dir.filePath("again.json");
    QVERIFY(m_main->saveStates(again));
    QFile g(again);
    QVERIFY(g.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(g.readAll()), text);
    g.close();
    // A state stored since is added without them; they stay where they were.
    restoreScheme(4, 0.75, -40);
    QVERIFY(m_main->Store());
    QVERIFY(m_main->saveStates(again));
    QVERIFY(g.open(QIODevice::ReadOnly));
    const QString third = QString::fromUtf8(g.readAll());
    QVERIFY(third.contains("\"initial\": 4,\n  \"comment\": \"Rg series, day 3\",\n"));
    QVERIFY(third.contains("\"Name\": \"1: 0>n12RgV2EmaxV1rduexgf\", \"colour\": [0, 128, 0], \"Back"));
    QCOMPARE(third.count("colour"), 1);
}

void TestStatesFile::dialogsProposeTheLastFile()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->activateWindow();
    // Each shortcut, pressed in an editor, opens its dialog; what it proposes
    // is noted and the dialog cancelled.
    const auto proposed = [this](Qt::Key key) {
        QString file;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !file.isEmpty())
                return;
            file = dialog->selectedFiles().value(0);
            dialog->reject();
        });
        answer.start(20);
        m_main->activateWindow();
        if (!QTest::qWaitForWindowActive(m_main.get()))
            return QStringLiteral("(the main window is not active)");
        QTest::keyClick(windows().forms[1], key, Qt::ControlModifier);
        return file;
    };
    // A fresh home has no Documents folder: the home folder, until there is one.
    const QString home = m_dir.filePath("home");
    QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), home + "/Documents");
    QCOMPARE(proposed(Qt::Key_S), home + "/states.json");
    QVERIFY(QDir(home).mkdir("Documents"));
    QCOMPARE(proposed(Qt::Key_S), home + "/Documents/states.json");
    QVERIFY(QDir(home).rmdir("Documents"));
    const QString path = m_dir.filePath("proposed.json");
    QVERIFY(m_main->saveStates(path));
    QCOMPARE(proposed(Qt::Key_S), path);
    QCOMPARE(proposed(Qt::Key_O), path);
    // Then the one opened last.
    const QString other = m_dir.filePath("other.json");
    QVERIFY(QFile::copy(path, other));
    QVERIFY(m_main->openStates(other));
    QCOMPARE(proposed(Qt::Key_O), other);
    QCOMPARE(proposed(Qt::Key_S), other);
    // The folder of the last file gone: its name in the home folder.
    QTemporaryDir gone(m_dir.filePath("gone-XXXXXX"));
    QVERIFY(m_main->saveStates(gone.filePath("last.json")));
    QVERIFY(gone.remove());
    QCOMPARE(proposed(Qt::Key_S), home + "/last.json");
    QVERIFY(m_errors.isEmpty());
}

void TestStatesFile::quitAsksForAChangedSessionFile_data()
{
    QTest::addColumn<QString>("how"); // how the program is asked to end
    QTest::addColumn<bool>("saved"); // the session saved to a file (else opened from one)
    QTest::addColumn<int>("answer"); // to "Save the states before quitting?"; 0: not asked
    QTest::addColumn<bool>("writable"); // the file's folder
    QTest::addColumn<bool>("ends");
    QTest::newRow("File > Quit, Cancel") << "menu" << true << int(QMessageBox::Cancel) << true << false;
    QTest::newRow("Ctrl+Q, Cancel") << "key" << false << int(QMessageBox::Cancel) << true << false;
    QTest::newRow("close button, Discard") << "close" << true << int(QMessageBox::Discard) << true << true;
    QTest::newRow("Ctrl+Q, Save") << "key" << true << int(QMessageBox::Save) << true << true;
    QTest::newRow("File > Quit, Save to an opened file")
        << "menu" << false << int(QMessageBox::Save) << true << true;
    QTest::newRow("File > Quit, Save fails") << "menu" << false << int(QMessageBox::Save) << false << false;
    QTest::newRow("nothing changed since") << "menu" << true << 0 << true << true;
}

void TestStatesFile::quitAsksForAChangedSessionFile()
{
    QFETCH(QString, how);
    QFETCH(bool, saved);
    QFETCH(int, answer);
    QFETCH(bool, writable);
    QFETCH(bool, ends);
    if (!writable && ::geteuid() == 0)
        QSKIP("the superuser writes into a read-only folder");
    QFile::remove(MainWindow::lastSessionPath());
    QTemporaryDir folder(m_dir.filePath("quit-XXXXXX"));
    QVERIFY(folder.isValid());
    const QString path = folder.filePath("quit.json");
    makeSession();
    if (saved) {
        QVERIFY(m_main->saveStates(path));
    } else {
        QVERIFY(m_main->saveStates(path));
        cleanup();
        init();
        QVERIFY(m_main->openStates(path));
    }
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Cleftsim - quit.json[*]"));
    QVERIFY(!m_main->isWindowModified());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    if (answer != 0) {
        restoreScheme(5, 0.75, -40); // an edit not stored
        QVERIFY(m_main->Store());
        restoreScheme(6, 0.75, -40);
        QVERIFY(m_main->isWindowModified());
    }
    const ModelState state = model();
    // The question names the file: Save writes it without asking for one.
    bool chooserAsked = false;
    m_main->setStatesFileChooser([&](bool) {
        chooserAsked = true;
        return QString();
    });
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->activateWindow();

    QStringList asked;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked << box->text();
        if (QAbstractButton *button = box->button(QMessageBox::StandardButton(answer)))
            button->click();
        else
            box->reject();
    });
    answerer.start(20);
    if (!writable)
        QCOMPARE(::chmod(QFile::encodeName(folder.path()).constData(), 0555), 0);
    if (how == "menu")
        m_main->fileMenu()->findChild<QAction *>(QStringLiteral("Quit1"))->trigger();
    else if (how == "key")
        QTest::keyClick(windows().forms[1], Qt::Key_Q, Qt::ControlModifier);
    else
        m_main->close();
    answerer.stop();
    ::chmod(QFile::encodeName(folder.path()).constData(), 0700);

    QCOMPARE(asked, answer ? QStringList {"Save the states before quitting?"} : QStringList {});
    QVERIFY(!chooserAsked);
    QCOMPARE(!m_main->isVisible(), ends);
    QVERIFY(model().StoredStates == state.StoredStates);
    QVERIFY(model().LPC == state.LPC);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QCOMPARE(after == before, answer != QMessageBox::Save || !ends);
    if (answer == QMessageBox::Save && ends)
        QCOMPARE(after.toStdString(), statesFileText(sessionOf(state)));
    // The session is kept whenever the program ends, and only then.
    QCOMPARE(QFileInfo::exists(MainWindow::lastSessionPath()), ends);
    // A save that fails says why, and the program goes on.
    QCOMPARE(m_errors,
        writable ? QStringList {}
                 : QStringList {QDir::toNativeSeparators(path) + " could not be saved: Permission denied"});
}

void TestStatesFile::neverSavedSessionIsKeptAndReopened()
{
    QFile::remove(MainWindow::lastSessionPath());
    makeSession();
    restoreScheme(9, 1.25, -40); // an edit not stored
    const ModelState state = model();
    const QStringList texts = listTexts();
    // Never saved to a file: not asked about, and kept.
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Cleftsim"));
    QVERIFY(m_main->close());
    QVERIFY(QFileInfo::exists(MainWindow::lastSessionPath()));
    cleanup();
    init();
    // A session of nothing but the default set leaves the kept one in place.
    QVERIFY(m_main->close());
    cleanup();
    init();
    m_main->fileMenu()->aboutToShow();
    auto *reopen = m_main->fileMenu()->findChild<QAction *>(QStringLiteral("ReopenLastSession1"));
    QVERIFY(reopen && reopen->isEnabled());
    reopen->trigger();
    QVERIFY(m_errors.isEmpty());
    const ModelState &m = model();
    QCOMPARE(m.StoredCount, state.StoredCount);
    QVERIFY(m.StoredStates == state.StoredStates);
    QVERIFY(m.LPI == state.LPI);
    QVERIFY(m.LPC == state.LPC);
    QCOMPARE(listTexts(), texts);
    QCOMPARE(editorText(1, "SpinEditN"), QStringLiteral("9"));
    QCOMPARE(editorText(1, "MaskEdit1"), QStringLiteral("1.25"));
    // It belongs to no states file: the end asks nothing.
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Cleftsim"));
    QVERIFY(m_main->sessionFile().isEmpty());
    QVERIFY(m_main->close());
}

QTEST_MAIN(TestStatesFile)
#include "tst_statesfile.moc"
