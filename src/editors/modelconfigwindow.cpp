#include "editors/modelconfigwindow.h"

#include "drawing/canvas.h"
#include "widgets/currentmodel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace cleftsim {

ModelConfigWindow::ModelConfigWindow(QWidget *parent)
    : ChildWindow(
        QStringLiteral("csForm0"), QStringLiteral("Model Configuration"), 366, 79, 0, QPoint(0, 62), parent)
{
    numberLabel()->setObjectName(QStringLiteral("Label1"));
    const QFont bold = uiFont(13, true);
    setFont(bold);

    m_checkBox1 = new QCheckBox(QStringLiteral("background conductance"), this);
    m_checkBox1->setObjectName(QStringLiteral("CheckBox1"));
    m_checkBox1->setFont(bold);
    m_checkBox1->setGeometry(4, 8, 193, 25);

    // Release always follows the probability law; the box only says so.
    auto *checkBox2 = new QCheckBox(QStringLiteral("random probability"), this);
    checkBox2->setObjectName(QStringLiteral("CheckBox2"));
    checkBox2->setFont(bold);
    checkBox2->setGeometry(4, 40, 153, 25);
    checkBox2->setEnabled(false);
    QPalette grey = checkBox2->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        grey.setColor(group, QPalette::WindowText, colors::Grey);
        grey.setColor(group, QPalette::Text, colors::Grey);
        grey.setColor(group, QPalette::ButtonText, colors::Grey);
    }
    checkBox2->setPalette(grey);

    // The postsynaptic side is always held in voltage clamp.
    auto *radioGroup1 = new QGroupBox(this);
    radioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    radioGroup1->setFont(bold);
    radioGroup1->setGeometry(224, 0, 137, 73);
    auto *currentClamp = new QRadioButton(QStringLiteral("current clamp"), radioGroup1);
    currentClamp->setObjectName(QStringLiteral("RadioButton0"));
    currentClamp->setGeometry(8, 14, 125, 22);
    auto *voltageClamp = new QRadioButton(QStringLiteral("voltage clamp"), radioGroup1);
    voltageClamp->setObjectName(QStringLiteral("RadioButton1"));
    voltageClamp->setGeometry(8, 40, 125, 22);
    voltageClamp->setChecked(true);
    radioGroup1->setEnabled(false);

    numberLabel()->raise();

    connect(m_checkBox1, &QCheckBox::toggled, this, &ModelConfigWindow::CheckBox1Click);
    setBackgroundChecked(model().LPC.BackgroundOn != 0);
}

bool ModelConfigWindow::backgroundChecked() const
{
    return m_checkBox1->isChecked();
}

void ModelConfigWindow::setBackgroundChecked(bool on)
{
    m_checkBox1->setChecked(on);
}

void ModelConfigWindow::restoreFrom(const ParameterSet &s)
{
    setBackgroundChecked(s.BackgroundOn == 1);
}

void ModelConfigWindow::CheckBox1Click()
{
    // Every switch, either way, starts again without background conductance.
    // The windows that show Gb or depend on the switch rearrange themselves.
    model().setField(Param::Gb, 0);
    model().setField(Param::BackgroundOn, m_checkBox1->isChecked() ? 1 : 0);
    parameterAccepted(Param::BackgroundOn);
}

} // namespace cleftsim
