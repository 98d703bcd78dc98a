#pragma once

#include "drawing/canvas.h"
#include "run/measureddata.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QWidget;

namespace cleftsim {

// The colour of measured points in the figures: a burnt orange that no other
// figure uses, whose grey (about 90 of 255) lies apart from the black
// curves, the grey labels and the silver trials when printed without colour.
inline const QColor MeasuredColour(170, 68, 0);

// A recording as the windows share it.
using MeasuredDataPtr = std::shared_ptr<const MeasuredData>;

// The recording loaded into the program: the Is vs V2 figures draw it beside
// the model, the Fit window fits the model to it. None at the start.
class MeasuredDataStore : public QObject {
    Q_OBJECT
public:
    MeasuredDataPtr data() const { return m_data; }
    // Loads data (null: clears it) and tells the windows.
    void setData(MeasuredDataPtr data);

signals:
    void changed();

private:
    MeasuredDataPtr m_data;
};

// The one store of the program.
MeasuredDataStore &measuredData();

// Where the legend of the measured points stands in a current figure of Is
// vs V2: the centre of its marker.
inline const QPoint MeasuredLegend(5, 174);

// Draws each measured mean peak current as a small square at (140 + V,
// 40 - I) with its error bar of one standard error (none where the data
// gives none), in MeasuredColour, into a current figure of Is vs V2, and
// the legend that says so.
void drawMeasuredPeaks(Canvas &current, const MeasuredData &data);
// The same for the mean numbers of quanta, where the data gives them, into
// the quanta figure of quantumStep pixels per quantum (y = 145 - m * step).
void drawMeasuredQuanta(Canvas &quanta, const MeasuredData &data, int quantumStep);

// The file's name without its folder.
QString measuredFileName(const MeasuredData &data);
// How the figures' menus name the data: "Measured data: cell3.csv, 12 points".
QString measuredDataText(const MeasuredData &data);

// Asks for a measured data file with the file dialog (object name
// "MeasuredDataDialog") and reads it by the fit's rules; a file refused is
// named in a message box with the row, the column and the reason. Null for a
// cancel or a refusal, which leave everything as it was.
MeasuredDataPtr askMeasuredData(QWidget *parent);
// Asks for a file and loads it into the store; false when nothing was loaded.
bool loadMeasuredData(QWidget *parent);

// The entries of measured data in a figure's context menu: the data's name
// while some is loaded; in a live figure (not a frozen copy) also "Load
// Measured Data...", and while data is loaded "Clear Measured Data" and
// "Fit to Measured Data...", which calls openFit.
void addMeasuredDataEntries(QMenu &menu, QWidget *parent, const MeasuredDataPtr &data, bool live,
    const std::function<void()> &openFit = {});

} // namespace cleftsim
