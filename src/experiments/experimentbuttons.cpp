#include "experiments/experimentbuttons.h"

#include "drawing/canvas.h"
#include "drawing/glyphs.h"

#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

namespace cleftsim {

QToolButton *makePictureButton(
    const QString &objectName, ButtonPicture picture, int x, int y, const QString &hint, QWidget *parent)
{
    const auto glyph = [picture](bool enabled) {
        return QPixmap::fromImage(
            picture == ButtonPicture::Save ? saveGlyph(enabled) : duplicateGlyph(enabled));
    };
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setGeometry(x, y, 26, 26);
    QIcon icon;
    icon.addPixmap(glyph(true), QIcon::Normal);
    icon.addPixmap(glyph(false), QIcon::Disabled);
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    if (!hint.isEmpty())
        button->setToolTip(hint);
    button->setFocusPolicy(Qt::NoFocus);
    button->setEnabled(false);
    return button;
}

QPushButton *makeTextButton(const QString &objectName, const QString &text, int x, int y, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFont(uiFont(13, true));
    button->setGeometry(x, y, 60, 26);
    return button;
}

} // namespace cleftsim
