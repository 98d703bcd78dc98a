#include "app/parameterpanel.h"

#include "drawing/canvas.h"
#include "model/parametertable.h"
#include "model/rounding.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"
#include "widgets/windowset.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>

namespace cleftsim {

namespace {

// Dynamic property that tells which editor window a click on a panel control opens.
const char *const EditorProperty = "cleftsimEditor";

// Height of the subscript labels beside the parameter names [pixels].
constexpr int SubscriptHeight = 10;

} // namespace

void setTextColour(QWidget *w, const QColor &c)
{
    if (!w)
        return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
}

QLabel *addPanelLabel(
    QWidget *parent, const QString &objectName, const QString &text, int x, int y, bool bold, int pixelHeight)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setFont(uiFont(pixelHeight, bold));
    label->move(x, y);
    label->adjustSize();
    setTextColour(label, colors::Black);
    return label;
}

ParameterPanel::ParameterPanel(QWidget *client, int clientHeight, QObject *parent)
    : QObject(parent)
{
    m_panel = new QFrame(client);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel->setLineWidth(1);
    m_panel->setGeometry(0, 0, 139, clientHeight);
    m_panel->setAutoFillBackground(true);

    auto *panel2 = new QFrame(m_panel);
    panel2->setObjectName(QStringLiteral("Panel2"));
    panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel2->setLineWidth(1);
    panel2->setGeometry(4, 4, 131, 40);
    addPanelLabel(panel2, QStringLiteral("Label01"), QStringLiteral("Initial State:"), 4, 4, true);
    m_label01v = addPanelLabel(panel2, QStringLiteral("Label01v"), QString(), 4, 20);
    m_label01v->setAlignment(Qt::AlignRight | Qt::AlignTop);
    m_label01v->setGeometry(4, 20, 123, 16);

    addPanelLabel(m_panel, QStringLiteral("Label02"), QStringLiteral("Current State:"), 6, 52, true);
    m_label03
        = addPanelLabel(m_panel, QStringLiteral("Label03"), QStringLiteral("Basic Configuration"), 8, 72);
    m_label03->setProperty(EditorProperty, 0);
    addRows();
    linkEditors();
}

void ParameterPanel::addRows()
{
    addRow(
        Param::N, m_panel, QStringLiteral("04"), QStringLiteral("n ="), {8, 126}, QString(), {}, {28, 126});
    addRow(Param::Rg, m_panel, QStringLiteral("05"), QStringLiteral("R   ="), {8, 142}, QStringLiteral("g"),
        {18, 145}, {37, 142});
    addRow(Param::V2, m_panel, QStringLiteral("06"), QStringLiteral("V   ="), {8, 160}, QStringLiteral("2"),
        {18, 164}, {37, 160});

    QGroupBox *group2
        = addGroup(QStringLiteral("Presynaptic"), QStringLiteral("GroupBox2"), QRect(2, 180, 134, 108), 2);
    addRow(Param::Emax, group2, QStringLiteral("07"), QStringLiteral("E         ="), {8, 18},
        QStringLiteral("max"), {17, 21}, {55, 18});
    addRow(Param::V1r, group2, QStringLiteral("08"), QStringLiteral("V    ="), {8, 36}, QStringLiteral("1r"),
        {16, 40}, {40, 36});
    addRow(Param::du, group2, QStringLiteral("09"), QStringLiteral("duration ="), {8, 54}, QString(), {},
        {70, 54});
    addRow(Param::ex, group2, QStringLiteral("10"), QStringLiteral("exponent ="), {8, 70}, QString(), {},
        {76, 70});
    addRow(Param::gf, group2, QStringLiteral("11"), QStringLiteral("norm factor ="), {8, 86}, QString(), {},
        {88, 86});

    QGroupBox *group3
        = addGroup(QStringLiteral("Subsynaptic"), QStringLiteral("GroupBox3"), QRect(2, 292, 134, 89), 3);
    addRow(Param::Gmax, group3, QStringLiteral("12"), QStringLiteral("G         ="), {8, 18},
        QStringLiteral("max"), {18, 21}, {56, 18});
    addRow(Param::tc, group3, QStringLiteral("13"), QStringLiteral("time constant ="), {8, 36}, QString(), {},
        {66, 50});
    addRow(Param::Gb, group3, QStringLiteral("14"), QStringLiteral("G   ="), {8, 66}, QStringLiteral("b"),
        {18, 69}, {38, 66});
}

void ParameterPanel::linkEditors()
{
    // Which window a click on each row opens: Scheme Settings for the rows
    // outside the groups, the group's window inside them.
    for (int i = static_cast<int>(Param::N); i <= static_cast<int>(Param::Gb); ++i) {
        const Row &r = m_rows[i];
        const int editor = i <= static_cast<int>(Param::V2) ? 1 : i <= static_cast<int>(Param::gf) ? 2 : 3;
        for (QLabel *label : {r.name, r.sub, r.value}) {
            if (label)
                label->setProperty(EditorProperty, editor);
        }
    }
    for (QObject *o : m_panel->findChildren<QWidget *>()) {
        if (o->property(EditorProperty).isValid())
            o->installEventFilter(this);
    }
}

void ParameterPanel::addRow(Param f, QWidget *parent, const QString &number, const QString &name,
    QPoint namePos, const QString &sub, QPoint subPos, QPoint valuePos)
{
    Row &r = row(f);
    const QString base = QStringLiteral("Label") + number;
    r.name = addPanelLabel(parent, base, name, namePos.x(), namePos.y());
    if (!sub.isEmpty())
        r.sub = addPanelLabel(
            parent, base + QLatin1Char('s'), sub, subPos.x(), subPos.y(), false, SubscriptHeight);
    r.value = addPanelLabel(parent, base + QLatin1Char('v'), QString(), valuePos.x(), valuePos.y());
    // The subscript sits above the name's padding blanks.
    if (r.sub)
        r.sub->raise();
}

QGroupBox *ParameterPanel::addGroup(
    const QString &title, const QString &objectName, const QRect &place, int editor)
{
    auto *group = new QGroupBox(title, m_panel);
    group->setObjectName(objectName);
    group->setGeometry(place);
    group->setProperty(EditorProperty, editor);
    return group;
}

ParameterPanel::Row &ParameterPanel::row(Param f)
{
    return m_rows[static_cast<int>(f)];
}

bool ParameterPanel::eventFilter(QObject *watched, QEvent *event)
{
    const QVariant editor = watched->property(EditorProperty);
    if (editor.isValid()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            return true; // keep the mouse, so that the release comes here
        if (event->type() == QEvent::MouseButtonRelease) {
            auto *me = static_cast<QMouseEvent *>(event);
            auto *w = qobject_cast<QWidget *>(watched);
            if (me->button() == Qt::LeftButton && w && w->rect().contains(me->position().toPoint())) {
                if (ChildWindow *form = windows().forms[editor.toInt()])
                    form->showAndRaise();
            }
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ParameterPanel::writeRow(Param f)
{
    const ParameterSet &c = model().LPC;
    Row &r = row(f);
    if (!r.value)
        return;
    // The value with the decimals it is edited with, then its unit.
    const ParamInfo &info = paramInfo(f);
    QString text = QString::fromStdString(formatFixed(fieldValue(c, f), info.decimals));
    if (*info.unit)
        text += QLatin1Char(' ') + QLatin1String(info.unit);
    r.value->setText(text);
    r.value->adjustSize();
}

void ParameterPanel::colourRow(Param f, bool differs)
{
    const QColor c = differs ? colors::Red : colors::Black;
    if (f == Param::BackgroundOn) {
        setTextColour(m_label03, c);
        return;
    }
    Row &r = row(f);
    setTextColour(r.name, c);
    setTextColour(r.sub, c);
    setTextColour(r.value, c);
}

// The configuration label's text and the Gb row follow the switch of LPC.
void ParameterPanel::writeConfiguration()
{
    const bool on = model().LPC.BackgroundOn == 1;
    m_label03->setText(on ? QStringLiteral("Background Conduct") : QStringLiteral("Basic Configuration"));
    m_label03->adjustSize();
    Row &gb = row(Param::Gb);
    for (QLabel *label : {gb.name, gb.sub, gb.value})
        label->setVisible(on);
}

void ParameterPanel::showParameter(Param f)
{
    const ModelState &m = model();
    if (f == Param::BackgroundOn)
        writeConfiguration();
    else
        writeRow(f);
    colourRow(f, fieldValue(m.LPC, f) != fieldValue(m.LPI, f));
}

void ParameterPanel::writeAll()
{
    for (int i = static_cast<int>(Param::N); i <= static_cast<int>(Param::Gb); ++i)
        writeRow(static_cast<Param>(i));
    writeConfiguration();
    setInitialName(QString::fromStdString(model().LPI.Name));
}

void ParameterPanel::setInitialName(const QString &name)
{
    m_label01v->setText(name);
}

void ParameterPanel::blackLabels()
{
    for (int i = static_cast<int>(Param::BackgroundOn); i <= static_cast<int>(Param::Gb); ++i)
        colourRow(static_cast<Param>(i), false);
}

} // namespace cleftsim
