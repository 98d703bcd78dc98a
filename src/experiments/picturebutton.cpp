#include "experiments/picturebutton.h"

#include "drawing/canvas.h"

#include <QIcon>
#include <QPixmap>
#include <QToolButton>

namespace cleftsim {

namespace {

// Turns every coloured pixel of a picture into grey, keeping white and the
// transparent ground.
QImage greyed(const QImage &picture)
{
    QImage out = picture;
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = out.pixel(x, y);
            if (qAlpha(c) == 0 || (c & 0xffffff) == 0xffffff)
                continue;
            out.setPixel(x, y, colors::Grey.rgb());
        }
    }
    return out;
}

void fill(QImage &image, int x1, int y1, int x2, int y2, const QColor &c)
{
    for (int y = y1; y < y2; ++y)
        for (int x = x1; x < x2; ++x)
            image.setPixel(x, y, c.rgb());
}

QImage savePicture()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    // Body of the diskette with its label and shutter.
    fill(image, 1, 1, 15, 15, colors::Navy);
    fill(image, 3, 2, 13, 8, colors::White);
    fill(image, 4, 10, 12, 15, colors::Silver);
    fill(image, 9, 11, 11, 14, colors::Navy);
    for (int x = 4; x < 12; x += 2)
        image.setPixel(x, 4, colors::Grey.rgb());
    return image;
}

QImage duplicatePicture()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    // The original at the top left, its copy at the bottom right.
    fill(image, 0, 0, 7, 7, colors::Black);
    fill(image, 1, 1, 6, 6, colors::Aqua);
    fill(image, 9, 9, 16, 16, colors::Black);
    fill(image, 10, 10, 15, 15, colors::Red);
    // The arrow from one to the other, pointing down.
    fill(image, 11, 1, 13, 6, colors::Black);
    for (int i = 0; i < 3; ++i)
        fill(image, 9 + i, 6 + i, 15 - i, 7 + i, colors::Black);
    return image;
}

} // namespace

QImage buttonPicture(ButtonPicture picture, bool enabled)
{
    const QImage image = picture == ButtonPicture::Save ? savePicture() : duplicatePicture();
    return enabled ? image : greyed(image);
}

QToolButton *makePictureButton(
    const QString &objectName, ButtonPicture picture, int x, int y, const QString &hint, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setGeometry(x, y, 26, 26);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(buttonPicture(picture, true)), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(buttonPicture(picture, false)), QIcon::Disabled);
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    if (!hint.isEmpty())
        button->setToolTip(hint);
    button->setFocusPolicy(Qt::NoFocus);
    button->setEnabled(false);
    return button;
}

} // namespace cleftsim
