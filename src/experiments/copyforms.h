#pragma once

#include "drawing/canvas.h"
#include "widgets/childform.h"

namespace cleftsim {

class FigureView;

// Frozen copy of the Records figure.
class TcsChildForm4 : public ChildForm {
    Q_OBJECT
public:
    explicit TcsChildForm4(QWidget *parent = nullptr);
    FigureView *image3() const { return m_image3; }

private:
    FigureView *m_image3;
};

// Frozen copy of the Is vs V2 figures.
class TcsChildForm5 : public ChildForm {
    Q_OBJECT
public:
    explicit TcsChildForm5(QWidget *parent = nullptr);
    FigureView *image(int i) const { return m_images[i - 1]; } // 1..3

private:
    FigureView *m_images[3];
};

// Frozen copy of the Histograms figures.
class TcsChildForm6 : public ChildForm {
    Q_OBJECT
public:
    explicit TcsChildForm6(QWidget *parent = nullptr);
    FigureView *image(int i) const { return m_images[i - 1]; } // 1..4

private:
    FigureView *m_images[4];
};

// Each makes a copy window in the frame of the main window, captioned with
// caption, holding the given rasters pixel for pixel, and shows it.
// Records: its Image3.
TcsChildForm4 *copyRecords(const Canvas &image3, const QString &caption);
// Is vs V2: Image1 and Image2; image3 non-null when the background switch is on
// (then the copy is 757 wide and shows its Image3).
TcsChildForm5 *copyIsv(const Canvas &image1, const Canvas &image2, const Canvas *image3,
                       const QString &caption);
// Histograms, by its check boxes: quanta row (Image1, Image2), latency row
// (Image3, Image4), both rows, or neither (a blank copy).
TcsChildForm6 *copyHistograms(const Canvas &image1, const Canvas &image2, const Canvas &image3,
                              const Canvas &image4, bool quanta, bool latency, const QString &caption);

} // namespace cleftsim
