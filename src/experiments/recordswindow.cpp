#include "experiments/recordswindow.h"

#include "experiments/copywindows.h"
#include "experiments/experimentbuttons.h"
#include "experiments/recordsdrawing.h"
#include "experiments/recordsfile.h"
#include "widgets/currentmodel.h"
#include "widgets/figureview.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

namespace cleftsim {

namespace {

QLabel *makeLabel(const QString &objectName, const QString &text, int x, int y, bool bold,
    const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setFont(uiFont(13, bold));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->move(x, y);
    label->adjustSize();
    return label;
}

void setCaption(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
}

} // namespace

RecordsWindow::RecordsWindow(QWidget *parent)
    : ChildWindow(QStringLiteral("csForm4"), QStringLiteral("Records"), 381, 389, 4, QPoint(0, 372), parent)
    , m_recordedCurrents(MaxRecords)
    , m_saveFolder(QDir::currentPath())
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colors::White);
    setPalette(pal);

    m_image3 = new FigureView(QStringLiteral("Image3"), 374, 380, this);
    m_image3->move(4, 4);
    m_image3->canvas().setFontHeight(13);
    m_image3->setNameProposer(
        [] { return figureName(currentStateName(), Experiment::Records, QStringLiteral("Image3")); });
    attachFigureData(m_image3, [this] { return figureData(); });

    m_runBtn = makeTextButton(QStringLiteral("RunBtn"), QStringLiteral("Run"), 319, 8, this);
    m_runBtn->setDefault(true);
    m_clearBtn = makeTextButton(QStringLiteral("ClearBtn"), QStringLiteral("Clear"), 319, 40, this);
    m_saveBtn = makePictureButton(
        QStringLiteral("SaveBtn"), ButtonPicture::Save, 323, 360, QStringLiteral("save these records"), this);
    m_duplicateBtn = makePictureButton(QStringLiteral("DuplicateBtn"), ButtonPicture::Duplicate, 353, 360,
        QStringLiteral("store this figure"), this);
    m_label1 = makeLabel(QStringLiteral("Label1"), QString(), 108, 164, false, colors::Red, this);
    m_label2 = makeLabel(
        QStringLiteral("Label2"), QStringLiteral("number of trials"), 240, 90, true, colors::Black, this);
    m_label2->hide();
    m_label3 = makeLabel(QStringLiteral("Label3"), QString(), 352, 90, true, colors::Black, this);
    if (QLabel *number = numberLabel()) {
        number->setObjectName(QStringLiteral("Label20"));
        number->raise();
    }

    connect(m_runBtn, &QPushButton::clicked, this, &RecordsWindow::RunBtnClick);
    connect(m_clearBtn, &QPushButton::clicked, this, &RecordsWindow::ClearBtnClick);
    connect(m_saveBtn, &QToolButton::clicked, this, &RecordsWindow::SaveBtnClick);
    connect(m_duplicateBtn, &QToolButton::clicked, this, &RecordsWindow::DuplicateBtnClick);
    // No figure shows results of other parameters than the current ones.
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, [this](Param f) {
        if (clearsRecords(f))
            EmptyImage();
    });

    EmptyImage();
}

void RecordsWindow::EmptyImage()
{
    m_recordsCount = 0;
    m_seeds.clear();
    m_quanta.clear();
    m_label2->hide();
    setCaption(m_label1, QString());
    m_traceBase = frameRecords(m_image3->canvas(), model().LPC);
    setCaption(m_label3, QString());
    m_clearBtn->setEnabled(false);
    m_duplicateBtn->setEnabled(false);
    m_saveBtn->setEnabled(false);
    m_image3->update();
}

void RecordsWindow::RunBtnClick()
{
    if (m_recordsCount == MaxRecords)
        EmptyImage();
    ++m_recordsCount;
    const int r = m_recordsCount;

    if (r == 1) {
        m_runParameters = model().LPC;
        m_fixedSeed.reset();
        if (!m_seedSource && seedChoice().fixed)
            m_fixedSeed = seedChoice().seed;
    }
    // With a fixed seed S, trial r takes the seed mixed from S and r, as
    // cleftsim-batch records --seed S seeds its trials.
    const std::uint32_t seed = m_seedSource ? m_seedSource()
        : seedChoice().fixed                ? mixSeed(seedChoice().seed, static_cast<std::uint32_t>(r))
                                            : runSeed();
    RecordsTraceDrawer drawer(m_image3->canvas(), m_traceBase);
    const int m = recordsRun(model(), randomGenerator(), seed, m_recordedCurrents[r - 1], drawer);
    m_seeds.push_back(seed);
    m_quanta.push_back(m);

    m_label1->move(recordsQuantaCaptionLeft(model().LPC.du), 164);
    setCaption(m_label1, QString::number(m));
    m_label2->show();
    setCaption(m_label3, QString::number(m_recordsCount));
    m_clearBtn->setEnabled(true);
    m_duplicateBtn->setEnabled(true);
    m_saveBtn->setEnabled(true);
    m_image3->update();
}

FigureDataPtr RecordsWindow::figureData() const
{
    if (m_recordsCount < 1)
        return nullptr;
    auto data = std::make_shared<FigureData>();
    RunDescription &run = data->result.run;
    run.experiment = Experiment::Records;
    run.seeds = m_seeds;
    run.recordsSeed = m_fixedSeed; // the command names S where the seeds are its own
    run.trials = m_recordsCount;
    run.params = m_runParameters;
    RecordsResult &records = data->result.outcome.emplace<RecordsResult>();
    records.traces.assign(m_recordedCurrents.begin(), m_recordedCurrents.begin() + m_recordsCount);
    records.quanta = m_quanta;
    return data;
}

void RecordsWindow::ClearBtnClick()
{
    EmptyImage();
}

QString RecordsWindow::askSavePath(const QString &proposedPath)
{
    QFileDialog dialog(
        this, QString(), QFileInfo(proposedPath).absolutePath(), QStringLiteral("Text file (*.txt)"));
    dialog.setObjectName(QStringLiteral("SaveDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(QFileInfo(proposedPath).fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void RecordsWindow::SaveBtnClick()
{
    if (m_recordsCount < 1)
        return;
    if (MainWindowLink *main = windows().csMainForm; main && !main->Store())
        return;
    const QString name = proposedRecordsName(QString::fromStdString(model().LPC.Name));
    const QString proposed = QDir(m_saveFolder).filePath(freeRecordsName(m_saveFolder, name));
    const QString path = m_chooseSavePath ? m_chooseSavePath(proposed) : askSavePath(proposed);
    if (path.isEmpty())
        return;
    m_saveFolder = QFileInfo(path).absolutePath();
    QString error;
    if (!saveRecordsFile(path, m_recordedCurrents.data(), m_recordsCount, &error)) {
        if (m_reportError)
            m_reportError(error);
        else
            QMessageBox::critical(this, QApplication::applicationDisplayName(), error);
    }
}

void RecordsWindow::DuplicateBtnClick()
{
    if (MainWindowLink *main = windows().csMainForm; main && !main->Store())
        return;
    copyRecords(m_image3->canvas(), QString::fromStdString(model().LPC.Name) + QStringLiteral(" - Records"),
        figureData());
    m_duplicateBtn->setEnabled(false);
}

void RecordsWindow::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (m_runBtn->isEnabled())
            m_runBtn->click();
        return;
    }
    ChildWindow::keyPressEvent(event);
}

} // namespace cleftsim
