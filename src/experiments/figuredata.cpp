#include "experiments/figuredata.h"

#include "experiments/copywindows.h"
#include "model/storedstates.h"
#include "run/experimenttable.h"
#include "widgets/currentmodel.h"
#include "widgets/figureview.h"
#include "widgets/savefile.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

namespace cleftsim {

namespace {

DataPathChooser &pathChooser()
{
    static DataPathChooser chooser;
    return chooser;
}

std::function<void(const QString &)> &errorReporter()
{
    static std::function<void(const QString &)> reporter;
    return reporter;
}

// Seeds a menu entry lists before it gives only their number.
constexpr int ListedSeeds = 6;

// The text form of the experiment's data: the records file, the sweep's CSV;
// a Histograms run has only its JSON.
bool hasTextForm(Experiment e)
{
    return experimentEntry(e).text != nullptr;
}

QString textFilter(Experiment e)
{
    return e == Experiment::Records ? QObject::tr("Records text file (*.txt)")
                                    : QObject::tr("CSV file (*.csv)");
}

QString jsonFilter()
{
    return QObject::tr("JSON with the run's parameters (*.json)");
}

// Histograms have no other form: the filter says what becomes of a CSV name.
QString histogramsFilter()
{
    return QObject::tr("JSON with the run's parameters, the only form of Histograms: a name typed with "
                       ".csv is saved as .json (*.json)");
}

QString jsonFilterOf(Experiment e)
{
    return hasTextForm(e) ? jsonFilter() : histogramsFilter();
}

QString extensionOf(Experiment e, OutputFormat format)
{
    return format == OutputFormat::Json || !hasTextForm(e)
        ? QStringLiteral("json")
        : QString::fromLatin1(experimentEntry(e).textExtension);
}

void saveWithDialog(QWidget *parent, const FigureDataPtr &data, const QString &stateName)
{
    const Experiment e = data->result.run.experiment;
    QStringList filters;
    if (hasTextForm(e))
        filters << textFilter(e);
    filters << jsonFilterOf(e);
    // A sweep changed midway is offered as JSON, the form that keeps its note.
    const OutputFormat first
        = hasTextForm(e) && !data->changedMidway ? OutputFormat::Text : OutputFormat::Json;
    const QString proposed = proposedDataName(*data, first, stateName);

    QString filter = first == OutputFormat::Json ? filters.constLast() : filters.constFirst();
    QString path;
    if (pathChooser()) {
        path = pathChooser()(proposed, filters, &filter);
    } else {
        // The name follows the form chosen; the folder is the last one saved into.
        static QString folder = QDir::currentPath();
        QFileDialog dialog(parent, QObject::tr("Save data"), folder, filters.join(QStringLiteral(";;")));
        dialog.setObjectName(QStringLiteral("SaveDataDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        const auto nameFor = [&](const QString &chosen) {
            return proposedDataName(
                *data, chosen == jsonFilterOf(e) ? OutputFormat::Json : OutputFormat::Text, stateName);
        };
        dialog.selectNameFilter(filter);
        dialog.setDefaultSuffix(QFileInfo(proposed).suffix());
        dialog.selectFile(proposed);
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString &chosen) {
            const QString name = nameFor(chosen);
            dialog.setDefaultSuffix(QFileInfo(name).suffix());
            dialog.selectFile(name);
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        path = dialog.selectedFiles().constFirst();
        filter = dialog.selectedNameFilter();
        folder = QFileInfo(path).absolutePath();
    }
    if (path.isEmpty())
        return;
    const DataTarget target = dataTarget(e, path, filter == jsonFilterOf(e));
    QString error;
    if (saveFigureData(target.path, *data, target.format, &error))
        return;
    if (errorReporter())
        errorReporter()(error);
    else
        QMessageBox::critical(parent, QApplication::applicationDisplayName(), error);
}

} // namespace

QString seedsText(const FigureData &data)
{
    const std::vector<std::uint32_t> &seeds = data.result.run.seeds;
    QStringList listed;
    for (std::size_t i = 0; i < seeds.size() && i < ListedSeeds; ++i)
        listed << QString::number(seeds[i]);
    QString text = (seeds.size() == 1 ? QObject::tr("Seed ") : QObject::tr("Seeds "))
        + listed.join(QStringLiteral(", "));
    if (seeds.size() > ListedSeeds)
        text += QObject::tr(", … (%1 seeds)").arg(seeds.size());
    return text;
}

QString batchCommandText(const FigureData &data)
{
    if (!data.note.isEmpty())
        return QString();
    return QString::fromStdString(batchCommand(data.result.run));
}

std::string figureOutput(const FigureData &data, OutputFormat format)
{
    const bool isv = data.result.run.experiment == Experiment::Isv;
    std::string text;
    if (data.note.isEmpty() || !isv) {
        text = runOutput(data.result, format);
    } else {
        RunResult result = data.result;
        result.get<IsvRunResult>().note = data.note.toStdString();
        text = runOutput(result, format);
    }
    // The measured points go last, into the object that closes the text.
    const std::string end = "\n}\n";
    if (isv && data.measured && format == OutputFormat::Json && text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0)
        text.replace(text.size() - end.size(), end.size(),
            ",\n  \"measured\": " + measuredDataJson(*data.measured) + end);
    return text;
}

QString dataStateName(const FigureData &data)
{
    return QString::fromStdString(nameForParameters(model(), data.result.run.params));
}

QString proposedDataName(const FigureData &data, OutputFormat format, const QString &stateName)
{
    const Experiment e = data.result.run.experiment;
    return stateFileBase(stateName) + QLatin1Char('_') + QString::fromLatin1(experimentName(e))
        + (data.changedMidway ? QStringLiteral("_partial") : QString()) + QLatin1Char('.')
        + extensionOf(e, format);
}

DataTarget dataTarget(Experiment e, const QString &typed, bool jsonChosen)
{
    DataTarget target {typed, jsonChosen || !hasTextForm(e) ? OutputFormat::Json : OutputFormat::Text};
    const QString suffix = QFileInfo(typed).suffix().toLower();
    if (suffix.isEmpty()) {
        if (!typed.endsWith(QLatin1Char('.')))
            target.path += QLatin1Char('.');
        target.path += extensionOf(e, target.format);
    } else if (suffix == extensionOf(e, OutputFormat::Json)) {
        target.format = OutputFormat::Json;
    } else if (hasTextForm(e) && suffix == extensionOf(e, OutputFormat::Text)) {
        target.format = OutputFormat::Text;
    } else if (!hasTextForm(e) && (suffix == QLatin1String("csv") || suffix == QLatin1String("txt"))) {
        // JSON under a text form's name would mislead whoever opens it.
        target.path.chop(suffix.size());
        target.path += extensionOf(e, OutputFormat::Json);
    }
    return target;
}

bool saveFigureData(const QString &path, const FigureData &data, OutputFormat format, QString *error)
{
    // The CSV has no room for the note, and would look like a plain sweep
    // broken off.
    if (data.changedMidway && format == OutputFormat::Text) {
        if (error)
            *error = saveFailure(path,
                QObject::tr("the parameters changed during this sweep, and only its JSON form keeps that "
                            "note; save it with the extension .json"));
        return false;
    }
    return saveFileAtomically(path, QByteArray::fromStdString(figureOutput(data, format)), error);
}

void addFigureDataEntries(
    QMenu &menu, QWidget *parent, const FigureDataPtr &data, const std::function<QString()> &stateName)
{
    if (!data)
        return;
    menu.addSeparator();
    menu.addAction(seedsText(*data))->setEnabled(false);
    QAction *copy = menu.addAction(QObject::tr("Copy batch command"));
    const QString command = batchCommandText(*data);
    if (command.isEmpty()) {
        copy->setEnabled(false);
        menu.addAction(data->note)->setEnabled(false);
    } else {
        QObject::connect(
            copy, &QAction::triggered, parent, [command] { QApplication::clipboard()->setText(command); });
    }
    QAction *save = menu.addAction(QObject::tr("Save data..."));
    const QString name = stateName ? stateName() : dataStateName(*data);
    QObject::connect(
        save, &QAction::triggered, parent, [parent, data, name] { saveWithDialog(parent, data, name); });
}

void attachFigureData(
    FigureView *view, std::function<FigureDataPtr()> source, std::function<QString()> stateName)
{
    view->setMenuExtender([view, source = std::move(source), stateName = std::move(stateName)](
                              QMenu &menu) { addFigureDataEntries(menu, view, source(), stateName); });
}

void setDataPathChooser(DataPathChooser chooser)
{
    pathChooser() = std::move(chooser);
}

void setDataErrorReporter(std::function<void(const QString &)> reporter)
{
    errorReporter() = std::move(reporter);
}

} // namespace cleftsim
