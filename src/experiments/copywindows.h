#pragma once

#include "drawing/canvas.h"
#include "experiments/figuredata.h"
#include "widgets/childwindow.h"

namespace cleftsim {

class FigureView;

// What the frozen copies share: besides the pixels of the figure, the data of
// the Runs that drew it (seeds, parameters, results), which every figure of
// the copy offers in its context menu.
class FigureCopyWindow : public ChildWindow {
    Q_OBJECT
public:
    using ChildWindow::ChildWindow;
    // The data of the figure frozen; null when none was given.
    FigureDataPtr figureData() const { return m_data; }
    void keepFigureData(FigureDataPtr data);

protected:
    // The recording shown beside the figure when it was frozen, which its
    // menus name; null when none.
    std::shared_ptr<const MeasuredData> m_measured;

private:
    FigureDataPtr m_data;
};

// Frozen copy of the Records figure.
class RecordsCopyWindow : public FigureCopyWindow {
    Q_OBJECT
public:
    explicit RecordsCopyWindow(QWidget *parent = nullptr);
    FigureView *image3() const { return m_image3; }

private:
    FigureView *m_image3;
};

// Frozen copy of the Is vs V2 figures.
class IsvCopyWindow : public FigureCopyWindow {
    Q_OBJECT
public:
    explicit IsvCopyWindow(QWidget *parent = nullptr);
    FigureView *image(int i) const { return m_images[i - 1]; } // 1..3
    // Draws the recording over the copied figures as the window drew it (its
    // quanta figure with quantumStep pixels per quantum) and names it in
    // their menus.
    void keepMeasuredData(std::shared_ptr<const MeasuredData> data, int quantumStep);

private:
    FigureView *m_images[3];
};

// Frozen copy of the Histograms figures.
class HistogramsCopyWindow : public FigureCopyWindow {
    Q_OBJECT
public:
    explicit HistogramsCopyWindow(QWidget *parent = nullptr);
    FigureView *image(int i) const { return m_images[i - 1]; } // 1..4

private:
    FigureView *m_images[4];
};

// Makes the three figures of Is vs V2 on parent at their places, stacked as
// in the window: Image1 covers the left edge of Image2, Image3 its right
// edge. Image3 starts hidden.
void makeIsvFigures(QWidget *parent, FigureView *images[3]);

// Each makes a copy window in the frame of the main window, captioned with
// caption, holding the given rasters pixel for pixel and the figure's data
// (when given), and shows it.
// Records: its Image3.
RecordsCopyWindow *copyRecords(const Canvas &image3, const QString &caption, FigureDataPtr data = nullptr);
// Is vs V2: Image1 and Image2; image3 non-null when the background switch is on
// (then the copy is 757 wide and shows its Image3).
IsvCopyWindow *copyIsv(const Canvas &image1, const Canvas &image2, const Canvas *image3,
    const QString &caption, FigureDataPtr data = nullptr);
// Histograms, by its check boxes: quanta row (Image1, Image2), latency row
// (Image3, Image4), both rows, or neither (a blank copy).
HistogramsCopyWindow *copyHistograms(const Canvas &image1, const Canvas &image2, const Canvas &image3,
    const Canvas &image4, bool quanta, bool latency, const QString &caption, FigureDataPtr data = nullptr);

// The base of file names made from a state name, as the records file does it:
// "_" in place of the first ": " and the first ">" dropped ("3: 2>RgV2" gives
// "3_2RgV2", "0: default" gives "0_default"), every character but ASCII
// letters, digits, "_", "-", "+" and "~" made "_", at most 200 characters.
QString stateFileBase(const QString &stateName);
// The name of the state the current parameters are (the stored state whose
// values equal them, or the name a Store would give them), for the names
// proposed for the figures they draw.
QString currentStateName();
// The proposed name (without the extension of the image's form) of a figure:
// base of the state name, the experiment as its data files name it and the
// image's name, e.g. "3_2RgV2_histograms_Image1".
QString figureName(const QString &stateName, Experiment experiment, const QString &image);

} // namespace cleftsim
