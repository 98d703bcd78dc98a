#include "drawing/canvas.h"
#include "widgets/figureview.h"
#include "widgets/reproduciblepdf.h"

#include <QRegularExpression>
#include <QtTest>

using namespace cleftsim;

namespace {

// A small figure with every kind of drawing an export carries.
Canvas sampleFigure(int width, int height)
{
    Canvas c(width, height);
    c.setPenColor(colors::Grey);
    drawSegment(c, 10, 5, 10, height - 10);
    drawSegment(c, 10, height - 10, width - 5, height - 10);
    c.setBrushColor(colors::Navy);
    c.rectangle(20, 20, 40, 50);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setFontColor(colors::Black);
    c.textOut(30, 60, QStringLiteral("-50 pA"));
    DrawVerticalText(c, 0, height - 12, QStringLiteral("current"));
    for (int k = 0; k < 30; ++k)
        c.setPixel(50 + k, 30 + (k * 7) % 11, colors::Silver);
    c.beginTraces(1, colors::Black);
    for (int k = 0; k < 40; ++k)
        c.traceStep({{QPoint(15 + k, 70 - k / 2), QPointF(15.5 + k, 70.5 - 0.5 * k)}});
    return c;
}

// The entries of a PDF's cross-reference table point at their objects.
bool crossReferencesHold(const QByteArray &pdf)
{
    const qsizetype start = pdf.lastIndexOf("startxref");
    if (start < 0)
        return false;
    const qsizetype xref = pdf.mid(start + 9).trimmed().split('\n').value(0).trimmed().toLongLong();
    if (pdf.mid(xref, 4) != "xref")
        return false;
    const QList<QByteArray> lines = pdf.mid(xref).split('\n');
    const QList<QByteArray> head = lines.value(1).trimmed().split(' ');
    const int first = head.value(0).toInt(), count = head.value(1).toInt();
    if (count < 2)
        return false;
    for (int i = 1; i < count; ++i) {
        const QByteArray entry = lines.value(2 + i);
        if (!entry.trimmed().endsWith('n'))
            continue;
        const qsizetype at = entry.left(10).toLongLong();
        if (!pdf.mid(at).startsWith(QByteArray::number(first + i) + " 0 obj"))
            return false;
    }
    return true;
}

// Sets or unsets SOURCE_DATE_EPOCH for a scope.
class EpochVariable {
public:
    explicit EpochVariable(const QByteArray &value)
        : m_had(qEnvironmentVariableIsSet("SOURCE_DATE_EPOCH"))
        , m_old(qgetenv("SOURCE_DATE_EPOCH"))
    {
        if (value.isNull())
            qunsetenv("SOURCE_DATE_EPOCH");
        else
            qputenv("SOURCE_DATE_EPOCH", value);
    }
    ~EpochVariable()
    {
        if (m_had)
            qputenv("SOURCE_DATE_EPOCH", m_old);
        else
            qunsetenv("SOURCE_DATE_EPOCH");
    }

private:
    bool m_had;
    QByteArray m_old;
};

} // namespace

class TestFigureExport : public QObject {
    Q_OBJECT
private slots:
    void savedTwiceGivesTheSameBytes_data();
    void savedTwiceGivesTheSameBytes();
    void pdfPageHasTheFigureSize_data();
    void pdfPageHasTheFigureSize();
    void pdfCreationDate_data();
    void pdfCreationDate();
    void epochFromTheEnvironment_data();
    void epochFromTheEnvironment();
    void pdfDatesInEveryZone_data();
    void pdfDatesInEveryZone();
    void pdfIdentifiersFollowTheContent();
};

void TestFigureExport::savedTwiceGivesTheSameBytes_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("png") << int(ImageFormat::Png);
    QTest::newRow("png 2x") << int(ImageFormat::Png2x);
    QTest::newRow("png 4x") << int(ImageFormat::Png4x);
    QTest::newRow("svg") << int(ImageFormat::Svg);
    QTest::newRow("pdf") << int(ImageFormat::Pdf);
}

void TestFigureExport::savedTwiceGivesTheSameBytes()
{
    QFETCH(int, format);
    const EpochVariable unset {QByteArray()};
    const Canvas c = sampleFigure(120, 90);
    const QByteArray first = encodeImage(c, ImageFormat(format));
    QVERIFY(first.size() > 100);
    // A copy of the figure, drawn in another canvas, saved again.
    const Canvas again = sampleFigure(120, 90);
    QCOMPARE(encodeImage(again, ImageFormat(format)), first);
    QCOMPARE(encodeImage(c, ImageFormat(format)), first);
}

void TestFigureExport::pdfPageHasTheFigureSize_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // One point per pixel; wide and tall pages keep their sides apart.
    QTest::newRow("Records") << 374 << 380;
    QTest::newRow("wide") << 204 << 181;
    QTest::newRow("tall") << 90 << 230;
}

void TestFigureExport::pdfPageHasTheFigureSize()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const QByteArray pdf = encodeImage(sampleFigure(width, height), ImageFormat::Pdf);
    const QRegularExpressionMatch box = QRegularExpression(
        QStringLiteral("/MediaBox \\[\\s*([-0-9.]+)\\s+([-0-9.]+)\\s+([-0-9.]+)\\s+([-0-9.]+)\\s*\\]"))
                                            .match(QString::fromLatin1(pdf));
    QVERIFY2(box.hasMatch(), "no page box");
    QCOMPARE(box.captured(3).toDouble() - box.captured(1).toDouble(), double(width));
    QCOMPARE(box.captured(4).toDouble() - box.captured(2).toDouble(), double(height));
    QVERIFY(crossReferencesHold(pdf));
}

void TestFigureExport::pdfCreationDate_data()
{
    QTest::addColumn<QByteArray>("epoch");
    QTest::addColumn<QByteArray>("date"); // empty: none
    QTest::newRow("no epoch: no date") << QByteArray() << QByteArray();
    QTest::newRow("epoch") << QByteArray("1700000000") << QByteArray("D:20231114221320");
    QTest::newRow("epoch zero") << QByteArray("0") << QByteArray("D:19700101000000");
    QTest::newRow("not a number: no date") << QByteArray("yesterday") << QByteArray();
}

void TestFigureExport::pdfCreationDate()
{
    QFETCH(QByteArray, epoch);
    QFETCH(QByteArray, date);
    const EpochVariable variable(epoch);
    const QByteArray pdf = encodeImage(sampleFigure(100, 80), ImageFormat::Pdf);
    QVERIFY(pdf.startsWith("%PDF"));
    QVERIFY(crossReferencesHold(pdf));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    const qsizetype at = pdf.indexOf("/CreationDate");
    if (date.isEmpty()) {
        QCOMPARE(at, qsizetype(-1));
        QVERIFY(!pdf.contains("CreateDate>"));
    } else {
        QVERIFY(at >= 0);
        QVERIFY2(pdf.mid(at, 40).contains(date), pdf.mid(at, 40).constData());
    }
    // The present year appears nowhere in a date.
    const QByteArray year = QByteArray::number(QDate::currentDate().year());
    QVERIFY(!pdf.contains("D:" + year));
}

void TestFigureExport::epochFromTheEnvironment_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("epoch"); // -1: none
    QTest::newRow("unset") << QByteArray() << qint64(-1);
    QTest::newRow("empty") << QByteArray("") << qint64(-1);
    QTest::newRow("zero") << QByteArray("0") << qint64(0);
    QTest::newRow("seconds") << QByteArray("1700000000") << qint64(1700000000);
    QTest::newRow("11 digits") << QByteArray("99999999999") << qint64(99999999999);
    QTest::newRow("12 digits") << QByteArray("100000000000") << qint64(-1);
    QTest::newRow("negative") << QByteArray("-5") << qint64(-1);
    QTest::newRow("trailing letter") << QByteArray("17x") << qint64(-1);
}

void TestFigureExport::epochFromTheEnvironment()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, epoch);
    const EpochVariable variable(value);
    const std::optional<qint64> read = sourceDateEpoch();
    QCOMPARE(read.has_value(), epoch >= 0);
    if (read)
        QCOMPARE(*read, epoch);
}

void TestFigureExport::pdfDatesInEveryZone_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<qint64>("epoch"); // -1: none
    QTest::addColumn<QByteArray>("expected");
    // The writer spells the local zone; the fixed date is UTC in the same
    // number of bytes.
    QTest::newRow("UTC") << QByteArray("/CreationDate (D:20261208093001Z)") << qint64(86400)
                         << QByteArray("/CreationDate (D:19700102000000Z)");
    QTest::newRow("east") << QByteArray("/CreationDate (D:20261208093001+01'00')") << qint64(86400)
                          << QByteArray("/CreationDate (D:19700102000000+00'00')");
    QTest::newRow("west") << QByteArray("/CreationDate (D:20261208093001-05'30')") << qint64(59)
                          << QByteArray("/CreationDate (D:19700101000059+00'00')");
    QTest::newRow("no epoch") << QByteArray("<</CreationDate (D:20261208093001Z)>>") << qint64(-1)
                              << QByteArray("<<                                 >>");
    QTest::newRow("unknown spelling")
        << QByteArray("/CreationDate (Tuesday)") << qint64(86400) << QByteArray("                       ");
    QTest::newRow("xmp") << QByteArray("<xmp:CreateDate>2026-12-08T09:30:01+01:00</xmp:CreateDate>")
                         << qint64(3600)
                         << QByteArray("<xmp:CreateDate>1970-01-01T01:00:00+00:00</xmp:CreateDate>");
    QTest::newRow("xmp, no epoch") << QByteArray("a<xmp:ModifyDate>2026-12-08T09:30:01Z</xmp:ModifyDate>b")
                                   << qint64(-1) << QByteArray("a" + QByteArray(53, ' ') + "b");
    // A year beyond four digits cannot be written: no date.
    QTest::newRow("year 10000") << QByteArray("/ModDate (D:20261208093001Z)") << qint64(253402300800)
                                << QByteArray("                            ");
    QTest::newRow("year 9999") << QByteArray("/ModDate (D:20261208093001Z)") << qint64(253402300799)
                               << QByteArray("/ModDate (D:99991231235959Z)");
}

void TestFigureExport::pdfDatesInEveryZone()
{
    QFETCH(QByteArray, written);
    QFETCH(qint64, epoch);
    QFETCH(QByteArray, expected);
    QByteArray pdf = written;
    makePdfReproducible(pdf, epoch >= 0 ? std::optional<qint64>(epoch) : std::nullopt);
    QCOMPARE(pdf, expected);
}

void TestFigureExport::pdfIdentifiersFollowTheContent()
{
    // Identifiers drawn at random become the same for the same document and
    // differ for another; their length and form stay.
    const QByteArray a
        = "page one\ntrailer <</ID [<0123456789abcdef0123456789abcdef> "
          "<fedcba9876543210fedcba9876543210>]>>\n<rdf uuid:12345678-1234-1234-1234-123456789abc/>";
    QByteArray b = a;
    b.replace("0123456789abcdef0123456789abcdef", "00000000000000001111111111111111");
    b.replace("12345678-1234-1234-1234-123456789abc", "abcdefab-cdef-abcd-efab-cdefabcdefab");
    QByteArray other = a;
    other.replace("page one", "page two");
    for (QByteArray *pdf : {&b, &other})
        makePdfReproducible(*pdf, std::nullopt);
    QByteArray fixed = a;
    makePdfReproducible(fixed, std::nullopt);
    QCOMPARE(fixed.size(), a.size());
    QCOMPARE(b, fixed);
    QVERIFY(other != fixed);
    QVERIFY(!fixed.contains("0123456789abcdef"));
    QVERIFY(QRegularExpression(QStringLiteral("/ID \\[<[0-9a-f]{32}> <[0-9a-f]{32}>\\]"))
                .match(QString::fromLatin1(fixed))
                .hasMatch());
    QVERIFY(QRegularExpression(
        QStringLiteral("uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}/"))
                .match(QString::fromLatin1(fixed))
                .hasMatch());
}

QTEST_MAIN(TestFigureExport)
#include "tst_figureexport.moc"
