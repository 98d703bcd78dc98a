#include "widgets/edits.h"

#include "drawing/canvas.h"
#include "model/parametertable.h"
#include "model/rounding.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace cleftsim {

namespace {

// Width of the up and down buttons at the right end of a spin edit [pixels].
constexpr int SpinButtonWidth = 14;

} // namespace

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
    setTextMargins(0, 0, SpinButtonWidth, 0);
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

// The texts of the bounds and, for every digit, the longest number of that
// digit alone within them: the widest texts the edit can be left showing.
QStringList SpinEdit::widestTexts() const
{
    QStringList texts {QString::number(m_min), QString::number(m_max)};
    for (int sign : {1, -1}) {
        for (char c = '1'; c <= '9'; ++c) {
            long long v = 0;
            for (long long next = c - '0'; next <= INT_MAX; next = next * 10 + (c - '0')) {
                if (sign * next < m_min || sign * next > m_max)
                    break;
                v = sign * next;
            }
            if (v != 0)
                texts << QString::number(v);
        }
    }
    return texts;
}

void SpinEdit::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitWidestText(this, SpinButtonWidth, widestTexts());
}

void SpinEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    fitWidestText(this, SpinButtonWidth, widestTexts());
    const int w = SpinButtonWidth;
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

namespace {

// Every digit in every position of the mask.
QStringList maskTexts(int decimals)
{
    QStringList texts;
    for (char c = '0'; c <= '9'; ++c)
        texts << QString(QLatin1Char(c)) + QLatin1Char('.') + QString(decimals, QLatin1Char(c));
    return texts;
}

} // namespace

void MaskEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    fitWidestText(this, 0, maskTexts(m_decimals));
}

void MaskEdit::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitWidestText(this, 0, maskTexts(m_decimals));
}

void fitWidestText(QLineEdit *edit, int rightMargin, const QStringList &texts)
{
    // The edit draws its text in the frame's contents less the text margins
    // and 2 pixels each side, and scrolls it (cutting the first digits) when
    // the text and the cursor after it do not fit there.
    constexpr int ToolkitMargin = 2;
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.rect = edit->rect();
    frame.lineWidth
        = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit) : 0;
    const int contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit).width();
    const QFontMetricsF metrics(edit->font());
    int needed = 0;
    for (const QString &t : texts)
        needed = std::max(needed, qRound(metrics.horizontalAdvance(t)) + 1);
    int missing = needed - (contents - rightMargin - 2 * ToolkitMargin);
    const int left = std::clamp(missing, 0, ToolkitMargin);
    missing -= left;
    const int right = std::clamp(missing, 0, ToolkitMargin);
    edit->setTextMargins(-left, 0, rightMargin - right, 0);
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
