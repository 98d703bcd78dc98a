#pragma once

#include "widgets/windowset.h"

#include <QMainWindow>

#include <functional>

class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QMdiArea;
class QMenu;
class QPushButton;

namespace cleftsim {

class AboutBox;
class TutorialBox;

// The frame of all child windows with the panel of the model state (csMainForm).
class MainWindow : public QMainWindow, public MainWindowLink {
    Q_OBJECT
public:
    // Size of the client area below the menu [pixels].
    static constexpr int ClientWidth = 1016;
    static constexpr int ClientHeight = 694;

    // Sets up the model state (LPI, slot 0, LPC) and shows it in the panel.
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Writes the row of field f from LPC and colours it red if it differs from
    // LPI, black if not. For BackgroundOn: the configuration label's text and
    // colour and the visibility of the Gb row.
    void showParameter(Param f);
    bool Store() override;
    QMdiArea *frame() override { return m_frame; }

    // Copies one parameter set onto the other.
    void LPI2LPC();
    void LPC2LPI();
    // LPI2LPC, then writes every row of the panel from LPC and Label01v from LPI.
    void NewLPC();
    // Sets every parameter row and the configuration label black.
    void BlackParameterLabels();

    void StoreBtnClick();
    void RestoreBtnClick();
    void ListBox1Click();
    // Show the editor window and bring it to the front.
    void GroupBox0Click();
    void GroupBox1Click();
    void GroupBox2Click();
    void GroupBox3Click();
    void Tile1Click();
    void Cascade1Click();
    void Tutorial1Click();
    void csAboutClick();

    // Creates the About and Tutorial windows (hidden until asked for).
    void createDialogs();
    AboutBox *aboutBox() const { return m_aboutBox; }
    TutorialBox *tutorialBox() const { return m_tutorialBox; }

    // How a run-time error (the full table of stored states) is shown. By
    // default an error box titled with the application title.
    using ErrorPresenter = std::function<void(const QString &message)>;
    void setErrorPresenter(ErrorPresenter presenter) { m_showError = std::move(presenter); }

    QListWidget *listBox() const { return m_listBox; }
    QMenu *windowMenu() const { return m_windowMenu; }
    QMenu *helpMenu() const { return m_helpMenu; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Turns the frame's scroll bars off and moves every open window back inside it.
    void keepWindowsInFrame();
    // The labels of one parameter row and how its value is written.
    struct Row {
        QLabel *name = nullptr;
        QLabel *sub = nullptr;
        QLabel *value = nullptr;
    };

    void buildMenu();
    void buildPanel();
    QLabel *addLabel(QWidget *parent, const QString &objectName, const QString &text, int x, int y,
        bool bold = false, int pixelHeight = 13);
    void addRow(Param f, QWidget *parent, const QString &number, const QString &name, QPoint namePos,
        const QString &sub, QPoint subPos, QPoint valuePos);
    Row &row(Param f);
    void writeRow(Param f);
    void colourRow(Param f, bool differs);
    void writeConfiguration();
    void fillWindowMenu();
    void openEditor(int index);

    QMdiArea *m_frame = nullptr;
    QFrame *m_panel1 = nullptr;
    QLabel *m_label01v = nullptr;
    QLabel *m_label03 = nullptr;
    QLabel *m_label20 = nullptr;
    QListWidget *m_listBox = nullptr;
    QPushButton *m_restoreBtn = nullptr;
    QPushButton *m_storeBtn = nullptr;
    QMenu *m_windowMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    Row m_rows[12];
    AboutBox *m_aboutBox = nullptr;
    TutorialBox *m_tutorialBox = nullptr;
    ErrorPresenter m_showError;
};

} // namespace cleftsim
