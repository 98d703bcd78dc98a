#include "editors/editorlabels.h"

#include "drawing/canvas.h"

#include <QLabel>

namespace cleftsim {

QLabel *addLabel(
    QWidget *parent, const QString &objectName, const QString &text, int x, int y, const QFont &font)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setFont(font);
    label->setMargin(0);
    label->setIndent(0);
    label->move(x, y);
    label->adjustSize();
    return label;
}

bool setLabelText(QLabel *label, const QString &text)
{
    if (label->text() == text)
        return false;
    label->setText(text);
    label->adjustSize();
    return true;
}

void setRightAlignedText(QLabel *label, int right, const QString &text)
{
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    setLabelText(label, text);
    const QPoint place(right - label->width(), label->y());
    if (label->pos() != place)
        label->move(place);
}

void setInkOn(QLabel *label, const QColor &background)
{
    // The lightness of the background as the eye weighs red, green and blue.
    const int light = (299 * background.red() + 587 * background.green() + 114 * background.blue()) / 1000;
    const QColor ink = light >= 128 ? colors::Black : colors::White;
    QPalette pal = label->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::WindowText, ink);
    label->setPalette(pal);
}

void setTwoLineHint(QWidget *control, const QString &first, const QString &second)
{
    control->setToolTip(first + QLatin1Char('\n') + second);
}

QFont overlayFont()
{
    return condensedFont(13);
}

} // namespace cleftsim
