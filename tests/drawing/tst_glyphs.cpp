#include "drawing/glyphs.h"

#include <QtTest>

using namespace cleftsim;

namespace {

int countColour(const QImage &image, QRgb rgb)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) == 255 && (image.pixel(x, y) & 0xffffff) == rgb;
    return n;
}

int countTransparent(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) == 0;
    return n;
}

} // namespace

class TestGlyphs : public QObject {
    Q_OBJECT
private slots:
    void duplicateGlyph_data();
    void duplicateGlyph();
    void saveGlyph();
    void copyWindowIcon();
    void programPicture();
    void applicationIcon();
};

void TestGlyphs::duplicateGlyph_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("normal") << true;
    QTest::newRow("disabled") << false;
}

// Cyan square top left, red square bottom right, an arrow between; the
// disabled glyph carries no colour at all.
void TestGlyphs::duplicateGlyph()
{
    QFETCH(bool, enabled);
    const QImage g = cleftsim::duplicateGlyph(enabled);
    QCOMPARE(g.size(), QSize(16, 16));
    QVERIFY(g.hasAlphaChannel());
    QVERIFY(countTransparent(g) > 60);
    const QRgb cyan = 0x00ffff, red = 0xff0000;
    if (enabled) {
        QCOMPARE(g.pixel(3, 3) & 0xffffff, cyan);
        QCOMPARE(g.pixel(12, 12) & 0xffffff, red);
        QCOMPARE(g.pixel(3, 10) & 0xffffff, QRgb(0)); // the arrow's shaft
    } else {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QColor c = QColor::fromRgba(g.pixel(x, y));
                QVERIFY(c.alpha() == 0 || (c.red() == c.green() && c.green() == c.blue()));
            }
        QVERIFY(g.pixel(3, 10) != 0);
    }
}

void TestGlyphs::saveGlyph()
{
    const QImage on = cleftsim::saveGlyph(true), off = cleftsim::saveGlyph(false);
    QCOMPARE(on.size(), QSize(16, 16));
    QCOMPARE(off.size(), QSize(16, 16));
    QVERIFY(countColour(on, 0x000080) > 10);
    QCOMPARE(countColour(off, 0x000080), 0);
    QVERIFY(on != off);
}

// A red drawing on a black and white ground, in basic colours only.
void TestGlyphs::copyWindowIcon()
{
    const QImage icon = cleftsim::copyWindowIcon();
    QCOMPARE(icon.size(), QSize(32, 32));
    const int red = countColour(icon, 0xff0000), black = countColour(icon, 0),
              white = countColour(icon, 0xffffff);
    QVERIFY(red > 40);
    QVERIFY(black > 100);
    QVERIFY(white > 100);
    QCOMPARE(red + black + white, 32 * 32);
}

void TestGlyphs::programPicture()
{
    const QImage picture = cleftsim::programPicture();
    QCOMPARE(picture.size(), QSize(190, 146));
    const int black = countColour(picture, 0);
    QVERIFY(black > 500);
    QCOMPARE(black + countColour(picture, 0xffffff), 190 * 146);
}

void TestGlyphs::applicationIcon()
{
    const QIcon icon = cleftsim::applicationIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
    const QImage image = applicationIconImage(64);
    QCOMPARE(image.size(), QSize(64, 64));
    // Navy bouton, red vesicles, transparent corners.
    int navy = 0, red = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            navy += c.alpha() == 255 && c.blue() > 100 && c.red() < 40 && c.green() < 40;
            red += c.alpha() == 255 && c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    QVERIFY(navy > 200);
    QVERIFY(red > 30);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    // The desktop drawing of the same icon ships with the sources.
    QFile svg(QStringLiteral(CLEFTSIM_SOURCE_DIR "/data/cleftsim.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray text = svg.readAll();
    QVERIFY(text.contains("<svg"));
    QVERIFY(text.contains("#000080"));
}

QTEST_MAIN(TestGlyphs)
#include "tst_glyphs.moc"
