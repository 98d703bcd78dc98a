#include "widgets/reproduciblepdf.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QTimeZone>

#include <cctype>
#include <vector>

namespace cleftsim {

namespace {

bool digitsAt(const QByteArray &s, qsizetype at, qsizetype count)
{
    if (at < 0 || at + count > s.size())
        return false;
    for (qsizetype i = at; i < at + count; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

void blank(QByteArray &s, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i)
        s[i] = ' ';
}

void overwrite(QByteArray &s, qsizetype at, const QByteArray &with)
{
    for (qsizetype i = 0; i < with.size(); ++i)
        s[at + i] = with[i];
}

// The zone of a date written as zone (the whole of it) for UTC in the same
// spelling: "Z" stays, an offset becomes +00 and 00 minutes with its
// separators; empty when the spelling is not one of these.
QByteArray utcZoneLike(const QByteArray &zone)
{
    if (zone == "Z")
        return zone;
    if (zone.size() >= 3 && (zone[0] == '+' || zone[0] == '-') && digitsAt(zone, 1, 2)) {
        QByteArray utc = zone;
        for (qsizetype i = 0; i < utc.size(); ++i)
            utc[i] = std::isdigit(static_cast<unsigned char>(utc[i])) ? '0' : utc[i];
        utc[0] = '+';
        return utc;
    }
    return {};
}

// Dates of the document information: "/Key (D:YYYYMMDDHHmmSS<zone>)".
void fixInfoDates(QByteArray &pdf, const QDateTime &when)
{
    for (const char *key : {"/CreationDate", "/ModDate"}) {
        for (qsizetype at = pdf.indexOf(key); at >= 0; at = pdf.indexOf(key, at + 1)) {
            const qsizetype open = pdf.indexOf('(', at), close = pdf.indexOf(')', at);
            if (open < 0 || close < open)
                break;
            const qsizetype date = open + 1;
            const QByteArray zone = utcZoneLike(pdf.mid(date + 16, close - date - 16));
            if (when.isValid() && pdf.mid(date, 2) == "D:" && digitsAt(pdf, date + 2, 14)
                && !zone.isEmpty()) {
                overwrite(pdf, date + 2, when.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1());
                overwrite(pdf, date + 16, zone);
            } else {
                blank(pdf, at, close + 1); // the entry, key and value, gone
            }
        }
    }
}

// Dates of the XMP metadata: "<xmp:Key>YYYY-MM-DDTHH:mm:SS<zone></xmp:Key>".
void fixXmpDates(QByteArray &pdf, const QDateTime &when)
{
    for (const char *name : {"xmp:CreateDate", "xmp:ModifyDate", "xmp:MetadataDate"}) {
        const QByteArray open = QByteArray("<") + name + '>', close = QByteArray("</") + name + '>';
        for (qsizetype at = pdf.indexOf(open); at >= 0; at = pdf.indexOf(open, at + 1)) {
            const qsizetype date = at + open.size(), end = pdf.indexOf(close, date);
            if (end < 0)
                break;
            const QByteArray zone = utcZoneLike(pdf.mid(date + 19, end - date - 19));
            if (when.isValid() && end - date >= 20 && digitsAt(pdf, date, 4) && pdf[date + 10] == 'T'
                && !zone.isEmpty()) {
                overwrite(pdf, date, when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1());
                overwrite(pdf, date + 19, zone);
            } else {
                blank(pdf, at, end + close.size());
            }
        }
    }
}

// The places of the document's identifiers: the hexadecimal digits of the
// trailer's /ID strings and of every "uuid:" of the metadata.
std::vector<std::pair<qsizetype, qsizetype>> identifierSpans(const QByteArray &pdf)
{
    std::vector<std::pair<qsizetype, qsizetype>> spans;
    const auto hexRun = [&pdf](qsizetype from, bool dashes) {
        qsizetype to = from;
        while (to < pdf.size()
            && (std::isxdigit(static_cast<unsigned char>(pdf[to])) || (dashes && pdf[to] == '-')))
            ++to;
        return to;
    };
    for (qsizetype at = pdf.indexOf("/ID"); at >= 0; at = pdf.indexOf("/ID", at + 1)) {
        const qsizetype close = pdf.indexOf(']', at);
        if (close < 0)
            break;
        for (qsizetype lt = pdf.indexOf('<', at); lt >= 0 && lt < close; lt = pdf.indexOf('<', lt + 1))
            spans.emplace_back(lt + 1, hexRun(lt + 1, false));
    }
    for (qsizetype at = pdf.indexOf("uuid:"); at >= 0; at = pdf.indexOf("uuid:", at + 1))
        spans.emplace_back(at + 5, hexRun(at + 5, true));
    return spans;
}

} // namespace

std::optional<qint64> sourceDateEpoch()
{
    const QByteArray value = qgetenv("SOURCE_DATE_EPOCH");
    if (value.isEmpty() || value.size() > 11 || !digitsAt(value, 0, value.size()))
        return std::nullopt;
    return value.toLongLong();
}

void makePdfReproducible(QByteArray &pdf, std::optional<qint64> epoch)
{
    QDateTime when;
    if (epoch) {
        when = QDateTime::fromSecsSinceEpoch(*epoch, QTimeZone::utc());
        if (when.date().year() > 9999)
            when = QDateTime(); // no four-digit year: no date
    }
    fixInfoDates(pdf, when);
    fixXmpDates(pdf, when);
    // The identifiers: zeros first, then the digest of what is left.
    const auto spans = identifierSpans(pdf);
    for (const auto &[from, to] : spans)
        for (qsizetype i = from; i < to; ++i)
            pdf[i] = pdf[i] == '-' ? '-' : '0';
    const QByteArray digest = QCryptographicHash::hash(pdf, QCryptographicHash::Sha256).toHex();
    for (const auto &[from, to] : spans) {
        qsizetype d = 0;
        for (qsizetype i = from; i < to; ++i) {
            if (pdf[i] != '-')
                pdf[i] = digest[d++ % digest.size()];
        }
    }
}

} // namespace cleftsim
