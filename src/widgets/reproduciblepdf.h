#pragma once

#include <QByteArray>

#include <optional>

namespace cleftsim {

// The time a reproducible output names instead of the present: the seconds
// since 1970-01-01 UTC in SOURCE_DATE_EPOCH when it holds a decimal number
// (of at most 11 digits), none otherwise.
std::optional<qint64> sourceDateEpoch();

// Makes a PDF document that Qt's PDF writer wrote a function of its pages
// alone, so that one figure saved twice gives the same bytes: the dates the
// writer stamps (the creation date of the document information, the dates
// of its XMP metadata) are blanked out, or, with an epoch, replaced by that
// time in UTC; the document's identifiers (the trailer's /ID and the XMP
// uuids), drawn at random by the writer, become a digest of the document.
// Every replacement keeps its length, so the cross-reference offsets stay
// right and the file stays valid.
void makePdfReproducible(QByteArray &pdf, std::optional<qint64> epoch);

} // namespace cleftsim
