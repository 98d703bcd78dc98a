#include "app/aboutbox.h"
#include "app/tutorialbox.h"
#include "drawing/canvas.h"
#include "run/rundescription.h"

#include <QtTest>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>

using namespace cleftsim;

class TestAboutBox : public QObject {
    Q_OBJECT
private slots:
    void aboutLayout();
    void oneVersionEverywhere_data();
    void oneVersionEverywhere();
    void linkColourFollowsPointer();
    void eachClickOpensTheAddress();
    void failedOpenIsIgnored();
    void readmeShowsRendered();
    void okClosesWithAccept();
    void pictureIsALineDrawing();
    void tutorialPanelKeepsItsPlace();

private:
    static QColor linkColour(const AboutBox &box) { return box.link()->palette().color(QPalette::Text); }
};

void TestAboutBox::aboutLayout()
{
    AboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About Cleftsim"));
    QCOMPARE(box.size(), QSize(471, 210));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    QCOMPARE(box.panel()->geometry(), QRect(4, 4, 464, 159));
    auto *name = box.findChild<QLabel *>(QStringLiteral("ProductName"));
    QVERIFY(name);
    QCOMPARE(name->text(), QStringLiteral("Cleftsim csUNO"));
    QVERIFY(name->font().bold());
    QCOMPARE(name->font().pixelSize(), 20);
    QCOMPARE(box.findChild<QLabel *>(QStringLiteral("Version"))->text(),
        QStringLiteral("Version: ") + QLatin1String(programVersion()));
    QCOMPARE(box.findChild<QLabel *>(QStringLiteral("Comments"))->text(), QStringLiteral("Visit "));
    QCOMPARE(box.findChild<QLabel *>(QStringLiteral("Updates"))->text(), QStringLiteral("to update"));
    QLineEdit *link = box.link();
    QCOMPARE(link->geometry(), QRect(232, 120, 171, 17));
    QVERIFY(link->isReadOnly());
    QVERIFY(!link->hasFrame());
    QVERIFY(link->font().underline());
    QCOMPARE(link->font().pixelSize(), 13);
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(linkColour(box), colors::Navy);
    // The link text stands whole in its field (the edit keeps 2 pixels each side).
    QVERIFY(link->fontMetrics().horizontalAdvance(link->text()) + 5 <= link->width());
    // The address names a document the program carries, whatever folder it runs from.
    const QUrl url = AboutBox::documentationAddress();
    QCOMPARE(url.scheme(), QStringLiteral("qrc"));
    QVERIFY2(QFile::exists(QLatin1Char(':') + url.path()), qPrintable(url.toString()));
    auto *ok = box.findChild<QPushButton *>(QStringLiteral("OKButton"));
    QVERIFY(ok && ok->isDefault());
    QCOMPARE(ok->geometry(), QRect(177, 174, 92, 30));
}

// The version About shows is the one the batch tool's --version and every
// JSON output print (programVersion()), and the one the manual pages, the
// Debian changelog and the software centre's release name.
void TestAboutBox::oneVersionEverywhere_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("About") << QString() << QStringLiteral("^Version: (\\S+)$");
    QTest::newRow("cleftsim(1)") << QStringLiteral("man/cleftsim.1")
                                 << QStringLiteral("^\\.TH CLEFTSIM 1 \"[^\"]*\" \"Cleftsim ([^\"]+)\"");
    QTest::newRow("cleftsim-batch(1)") << QStringLiteral(
        "man/cleftsim-batch.1") << QStringLiteral("^\\.TH CLEFTSIM-BATCH 1 \"[^\"]*\" \"Cleftsim ([^\"]+)\"");
    QTest::newRow("Debian changelog")
        << QStringLiteral("debian/changelog") << QStringLiteral("^cleftsim \\(([^)]+)\\)");
    QTest::newRow("AppStream release") << QStringLiteral("data/example.cleftsim.Cleftsim.metainfo.xml")
                                       << QStringLiteral("<release version=\"([^\"]+)\"");
}

void TestAboutBox::oneVersionEverywhere()
{
    QFETCH(QString, file);
    QFETCH(QString, pattern);
    QString text;
    if (file.isEmpty()) {
        AboutBox box;
        text = box.findChild<QLabel *>(QStringLiteral("Version"))->text();
    } else {
        QFile f(QStringLiteral(CLEFTSIM_SOURCE_DIR "/") + file);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
        text = QString::fromUtf8(f.readAll());
    }
    // The first place the version is named (the latest release comes first).
    const QRegularExpressionMatch match
        = QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text);
    QVERIFY2(match.hasMatch(), qPrintable(pattern));
    QCOMPARE(match.captured(1), QString::fromLatin1(programVersion()));
    // The version is a release number, not a word.
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(match.captured(1)).hasMatch());
}

void TestAboutBox::linkColourFollowsPointer()
{
    AboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseMove(box.link(), QPoint(20, 8));
    QCOMPARE(linkColour(box), colors::Blue);
    QTest::mouseMove(box.panel(), QPoint(420, 20));
    QCOMPARE(linkColour(box), colors::Navy);
    QTest::mouseMove(box.link(), QPoint(30, 8));
    QCOMPARE(linkColour(box), colors::Blue);
    // Straight off the panel, below it: the link keeps its colour.
    QTest::mouseMove(&box, QPoint(20, 190));
    QCOMPARE(linkColour(box), colors::Blue);
}

void TestAboutBox::eachClickOpensTheAddress()
{
    AboutBox box;
    QList<QUrl> opened;
    box.setUrlOpener([&opened](const QUrl &url) {
        opened << url;
        return true;
    });
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(box.link(), Qt::LeftButton, {}, QPoint(20, 8));
    QTest::mouseClick(box.link(), Qt::LeftButton, {}, QPoint(60, 8));
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened[0], AboutBox::documentationAddress());
    QCOMPARE(opened[1], opened[0]);
    // A click on the panel opens nothing.
    QTest::mouseClick(box.panel(), Qt::LeftButton, {}, QPoint(420, 20));
    QCOMPARE(opened.size(), 2);
}

void TestAboutBox::failedOpenIsIgnored()
{
    AboutBox box;
    int calls = 0;
    box.setUrlOpener([&calls](const QUrl &) {
        ++calls;
        return false;
    });
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.Edit1Click();
    QCOMPARE(calls, 1);
    QVERIFY(box.isVisible());
    QVERIFY(!QApplication::activeModalWidget());
}

// The link's own opener shows the README with its pictures, Markdown rendered.
void TestAboutBox::readmeShowsRendered()
{
    AboutBox box;
    QString text;
    bool picture = false;
    QTimer::singleShot(0, &box, [&] {
        QWidget *viewer = QApplication::activeModalWidget();
        auto *browser = viewer ? viewer->findChild<QTextBrowser *>() : nullptr;
        if (!browser)
            return;
        text = browser->toPlainText();
        picture
            = !browser->document()
                   ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("doc/images/records.png")))
                   .isNull();
        viewer->close();
    });
    box.Edit1Click();
    QVERIFY(text.startsWith(QLatin1String("Cleftsim\n")));
    QVERIFY(text.contains(QLatin1String("A short tour")));
    QVERIFY(!text.contains(QLatin1String("## ")));
    QVERIFY(picture);
}

void TestAboutBox::okClosesWithAccept()
{
    AboutBox box;
    QTimer::singleShot(
        0, &box, [&box] { box.findChild<QPushButton *>(QStringLiteral("OKButton"))->click(); });
    QCOMPARE(box.exec(), int(QDialog::Accepted));
    QVERIFY(!box.isVisible());
}

void TestAboutBox::pictureIsALineDrawing()
{
    const QImage picture = boutonPicture();
    QCOMPARE(picture.size(), QSize(190, 146));
    int black = 0;
    int white = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y) & 0xffffff;
            black += p == 0;
            white += p == 0xffffff;
        }
    }
    QVERIFY(black > 500);
    QVERIFY(white > picture.width() * picture.height() / 2);
    QCOMPARE(black + white, picture.width() * picture.height());
    AboutBox box;
    auto *icon = box.findChild<QLabel *>(QStringLiteral("ProgramIcon"));
    QVERIFY(icon);
    QCOMPARE(icon->geometry(), QRect(2, 4, 190, 146));
    QCOMPARE(icon->pixmap().size(), QSize(190, 146));
}

void TestAboutBox::tutorialPanelKeepsItsPlace()
{
    TutorialBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("Cleftsim Tutorial"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.panel()->geometry(), QRect(3, 3, 350, 186));
    QCOMPARE(box.panel()->palette().color(QPalette::Window), colors::White);
    QVERIFY(box.panel()->font().bold());
    QCOMPARE(box.panel()->font().pixelSize(), 25);
    QVERIFY(box.panel()->children().isEmpty());
    QVERIFY(box.minimumSize() != box.maximumSize());
    box.resize(600, 400);
    QCOMPARE(box.size(), QSize(600, 400));
    QCOMPARE(box.panel()->geometry(), QRect(3, 3, 350, 186));
    box.resize(200, 120);
    QCOMPARE(box.panel()->geometry(), QRect(3, 3, 350, 186));
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
