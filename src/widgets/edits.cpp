#include "widgets/edits.h"

#include "drawing/canvas.h"
#include "model/parametertable.h"
#include "model/rounding.h"

#include <QKeyEvent>
#include <QToolButton>

#include <climits>

namespace cleftsim {

SpinEdit::SpinEdit(
    const QString &objectName, int minValue, int maxValue, int value, int maxLength, QWidget *parent)
    : QLineEdit(parent)
    , m_min(minValue)
    , m_max(maxValue)
{
    setObjectName(objectName);
    setFont(uiFont(13));
    setMaxLength(maxLength);
    setText(QString::number(value));
    m_up = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_up->setObjectName(objectName + QStringLiteral("Up"));
    m_up->setAutoRepeat(true);
    m_up->setFocusPolicy(Qt::NoFocus);
    m_down = new QToolButton(this);
    m_down->setArrowType(Qt::DownArrow);
    m_down->setObjectName(objectName + QStringLiteral("Down"));
    m_down->setAutoRepeat(true);
    m_down->setFocusPolicy(Qt::NoFocus);
    connect(m_up, &QToolButton::clicked, this, [this] { step(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
    connect(this, &QLineEdit::textChanged, this, &SpinEdit::changed);
    setTextMargins(0, 0, 14, 0);
}

SpinEdit::SpinEdit(const QString &objectName, Param f, int value, int maxLength, QWidget *parent)
    : SpinEdit(objectName, static_cast<int>(paramInfo(f).min), static_cast<int>(paramInfo(f).max), value,
        maxLength, parent)
{
}

bool SpinEdit::parseInteger(const QString &text, long long *value)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 18)
        return false;
    int i = 0;
    bool negative = false;
    if (t[0] == QLatin1Char('-') || t[0] == QLatin1Char('+')) {
        negative = t[0] == QLatin1Char('-');
        i = 1;
    }
    if (i >= t.size())
        return false;
    long long v = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
    }
    *value = negative ? -v : v;
    return true;
}

int SpinEdit::value() const
{
    long long v = 0;
    if (!parseInteger(text(), &v))
        return m_min;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

void SpinEdit::setValue(int v)
{
    if (v > m_max)
        v = m_max;
    if (v < m_min)
        v = m_min;
    setText(QString::number(v));
}

void SpinEdit::step(int delta)
{
    if (isReadOnly() || !isEnabled())
        return;
    const long long v = static_cast<long long>(value()) + delta;
    setValue(static_cast<int>(qBound(static_cast<long long>(INT_MIN), v, static_cast<long long>(INT_MAX))));
}

void SpinEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up) {
        step(+1);
        return;
    }
    if (event->key() == Qt::Key_Down) {
        step(-1);
        return;
    }
    // Like a classic spin edit, typed characters other than digits and signs are
    // refused, also when typed with Shift; shortcuts (Ctrl, Alt, Meta) pass.
    const QString t = event->text();
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (t.size() == 1 && t[0].isPrint() && !t[0].isDigit() && t[0] != QLatin1Char('-')
        && t[0] != QLatin1Char('+') && !shortcut) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void SpinEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    const int w = 14;
    const int h = height() / 2;
    m_up->setGeometry(width() - w - 1, 1, w, h - 1);
    m_down->setGeometry(width() - w - 1, h, w, height() - h - 1);
}

MaskEdit::MaskEdit(const QString &objectName, int decimals, const QString &text, QWidget *parent)
    : QLineEdit(parent)
    , m_decimals(decimals)
{
    setObjectName(objectName);
    setFont(uiFont(13));
    setInputMask(QStringLiteral("9.") + QString(decimals, QLatin1Char('9')) + QStringLiteral(";_"));
    setText(text);
    connect(this, &QLineEdit::textChanged, this, &MaskEdit::changed);
}

MaskEdit::MaskEdit(const QString &objectName, Param f, double value, QWidget *parent)
    : MaskEdit(objectName, paramInfo(f).decimals,
        QString::fromStdString(formatFixed(value, paramInfo(f).decimals)), parent)
{
}

QString MaskEdit::maskText() const
{
    QString t = displayText();
    t.replace(QLatin1Char('_'), QLatin1Char(' '));
    return t;
}

double MaskEdit::number() const
{
    bool ok = false;
    const double x = QString(maskText()).remove(QLatin1Char(' ')).toDouble(&ok);
    return ok ? x : 0.0;
}

void MaskEdit::setNumber(double x)
{
    setText(QString::fromStdString(formatFixed(x, m_decimals)));
}

namespace {

// A text that can still become a number as the user goes on typing.
bool isIncompleteNumber(const QString &text)
{
    const QString t = text.trimmed();
    return t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+");
}

} // namespace

bool readSpinValue(SpinEdit *edit, int *value)
{
    long long v = 0;
    if (!SpinEdit::parseInteger(edit->text(), &v)) {
        if (isIncompleteNumber(edit->text())) {
            *value = edit->minValue();
            return true;
        }
        edit->setValue(edit->minValue());
        return false;
    }
    if (v < edit->minValue() || v > edit->maxValue()) {
        edit->setValue(v < edit->minValue() ? edit->minValue() : edit->maxValue());
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

void finishSpinText(SpinEdit *edit, int modelValue)
{
    const QString shown = QString::number(modelValue);
    if (edit->text() != shown)
        edit->setText(shown);
}

} // namespace cleftsim
