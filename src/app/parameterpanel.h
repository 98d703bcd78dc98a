#pragma once

#include "model/parameterset.h"

#include <QObject>
#include <QPoint>
#include <QString>

class QColor;
class QFrame;
class QGroupBox;
class QRect;
class QLabel;
class QWidget;

namespace cleftsim {

// Writes a label's text in a colour.
void setTextColour(QWidget *w, const QColor &c);
// A black label of the panel in the figures' face, placed at (x, y).
QLabel *addPanelLabel(QWidget *parent, const QString &objectName, const QString &text, int x, int y,
    bool bold = false, int pixelHeight = 13);

// The panel of the model state at the left of the main window (Panel1): the
// initial state's name, the configuration and a row per parameter of the
// current state, red where it differs from the initial one. A click on a
// row, the configuration or a group opens the editor of its parameters.
class ParameterPanel : public QObject {
    Q_OBJECT
public:
    // Builds the panel in the client area of the main window, ClientHeight high.
    ParameterPanel(QWidget *client, int clientHeight, QObject *parent);

    QFrame *frame() const { return m_panel; }
    // Writes the row of field f from LPC and colours it red if it differs
    // from LPI, black if not. For BackgroundOn: the configuration label's
    // text and colour and the visibility of the Gb row.
    void showParameter(Param f);
    // Writes every row from LPC and the initial state's name from LPI.
    void writeAll();
    // Writes the name of the initial state.
    void setInitialName(const QString &name);
    // Sets every parameter row and the configuration label black.
    void blackLabels();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The labels of one parameter row.
    struct Row {
        QLabel *name = nullptr;
        QLabel *sub = nullptr;
        QLabel *value = nullptr;
    };
    void addRow(Param f, QWidget *parent, const QString &number, const QString &name, QPoint namePos,
        const QString &sub, QPoint subPos, QPoint valuePos);
    void addRows();
    // A group of rows whose click opens an editor.
    QGroupBox *addGroup(const QString &title, const QString &objectName, const QRect &place, int editor);
    // Marks which editor a click on each control opens and watches the clicks.
    void linkEditors();
    Row &row(Param f);
    void writeRow(Param f);
    void colourRow(Param f, bool differs);
    void writeConfiguration();

    QFrame *m_panel = nullptr;
    QLabel *m_label01v = nullptr;
    QLabel *m_label03 = nullptr;
    Row m_rows[12];
};

} // namespace cleftsim
