#include "experiments/fitwindow.h"

#include "experiments/copywindows.h"
#include "experiments/experimentbuttons.h"
#include "experiments/measuredoverlay.h"
#include "model/rounding.h"
#include "run/rundescription.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "widgets/windowset.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace cleftsim {

namespace {

// The size of the window and of its profile figures [pixels].
constexpr int ClientWidth = 600;
constexpr int ClientHeight = 634;
constexpr int ProfileWidth = 140;
constexpr int ProfileHeight = 104;
// The rows of the parameters.
constexpr int FirstRowY = 62;
constexpr int RowHeight = 24;

QPointer<FitWindow> &theFitWindow()
{
    static QPointer<FitWindow> window;
    return window;
}

QLabel *addText(QWidget *parent, const QString &text, int x, int y, bool bold = false)
{
    auto *label = new QLabel(text, parent);
    label->setFont(uiFont(13, bold));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QString valueString(const ParamInfo &info, double value)
{
    return QString::fromStdString(formatFixed(value, info.decimals));
}

QString withUnit(const ParamInfo &info, const QString &value)
{
    return *info.unit ? value + QLatin1Char(' ') + QString::fromLatin1(info.unit) : value;
}

} // namespace

void drawFitProfile(Canvas &c, const FitResult &result, int j)
{
    ClearFrame(c, colors::White, c.width(), c.height());
    const FreeParameter &f = result.request.free[static_cast<std::size_t>(j)];
    const std::vector<ProfilePoint> &profile = result.profiles[static_cast<std::size_t>(j)];
    // The plot: the parameter's values across, -2 log L above the best from
    // 0 to twice the 95 % line upwards.
    const int left = 4, right = c.width() - 5, top = 16, bottom = c.height() - 5;
    double low = result.estimates[static_cast<std::size_t>(j)], high = low;
    for (const ProfilePoint &p : profile) {
        low = std::min(low, p.values[static_cast<std::size_t>(j)]);
        high = std::max(high, p.values[static_cast<std::size_t>(j)]);
    }
    if (high <= low) {
        low = f.low;
        high = f.high;
    }
    const double span = high > low ? high - low : 1;
    const double rise = 2 * ProfileThreshold;
    const auto xOf = [&](double v) { return left + Round((v - low) / span * (right - left)); };
    const auto yOf = [&](double d) { return bottom - Round(std::min(d, rise) / rise * (bottom - top)); };

    // The interval shaded.
    const auto &interval = result.intervals[static_cast<std::size_t>(j)];
    c.setBrushColor(colors::Silver);
    c.fillRect(xOf(interval.first), top, xOf(interval.second) + 1, bottom + 1);
    // The 95 % line.
    c.setPenColor(colors::Grey);
    c.setPenStyle(Canvas::PenStyle::Dot);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    drawSegment(c, left, yOf(ProfileThreshold), right + 1, yOf(ProfileThreshold));
    c.setPenStyle(Canvas::PenStyle::Solid);
    drawSegment(c, left, bottom, right + 1, bottom);
    // The profile.
    c.setPenColor(colors::Black);
    std::vector<QPoint> points;
    for (const ProfilePoint &p : profile)
        points.emplace_back(xOf(p.values[static_cast<std::size_t>(j)]), yOf(p.objective - result.objective));
    if (points.size() == 1)
        c.setPixel(points[0].x(), points[0].y(), colors::Black);
    else if (!points.empty()) {
        c.polyline(points);
        c.setPixel(points.back().x(), points.back().y(), colors::Black);
    }
    // The parameter's name and its range shown.
    c.setFont(uiFont(11));
    c.setFontColor(colors::Black);
    c.textOut(left, 1, QString::fromLatin1(f.info->name));
    c.setFontColor(colors::Grey);
    const QString range = valueString(*f.info, low) + QStringLiteral(" .. ") + valueString(*f.info, high);
    c.textOut(right - c.textWidth(range), 1, range);
}

FitWindow::FitWindow(QWidget *parent)
    : ChildWindow(QStringLiteral("csFitForm"), QStringLiteral("Fit to Measured Data"), ClientWidth,
        ClientHeight, -1, QPoint(), parent)
{
    setClosable(true);
    addText(this, tr("Data:"), 8, 12, true);
    m_dataLabel = addText(this, QString(), 60, 12);
    m_dataLabel->setObjectName(QStringLiteral("DataLabel"));
    m_dataLabel->setFixedWidth(440);
    m_loadBtn = makeTextButton(QStringLiteral("LoadBtn"), tr("Load..."), 532, 7, this);

    addText(this, tr("parameter"), 66, 40, true);
    addText(this, tr("low"), 215, 40, true);
    addText(this, tr("high"), 305, 40, true);
    addText(this, tr("current value"), 395, 40, true);
    int y = FirstRowY;
    for (const ParamInfo *info : numericParams()) {
        if (info->field == Param::V2)
            continue; // each measured point has its own clamp potential
        Row row;
        row.info = info;
        const QString name = QString::fromLatin1(info->name);
        row.free = new QCheckBox(tr("free"), this);
        row.free->setObjectName(QStringLiteral("Free_") + name);
        row.free->setFont(uiFont(13));
        row.free->move(8, y);
        row.free->adjustSize();
        addText(this,
            *info->unit ? name + QStringLiteral(" (%1)").arg(QString::fromLatin1(info->unit)) : name, 66,
            y + 2);
        QDoubleSpinBox **ends[2] = {&row.low, &row.high};
        const double values[2] = {info->min, info->max};
        for (int k = 0; k < 2; ++k) {
            auto *edit = new QDoubleSpinBox(this);
            edit->setObjectName((k == 0 ? QStringLiteral("Low_") : QStringLiteral("High_")) + name);
            edit->setFont(uiFont(13));
            edit->setLocale(QLocale::c());
            edit->setDecimals(info->decimals);
            edit->setRange(info->min, info->max);
            edit->setSingleStep(std::pow(10.0, -info->decimals));
            edit->setValue(values[k]);
            edit->setGeometry(215 + 90 * k, y, 80, 22);
            *ends[k] = edit;
        }
        row.current = addText(this, QString(), 395, y + 2);
        row.current->setObjectName(QStringLiteral("Current_") + name);
        row.current->setFixedWidth(150);
        m_rows.push_back(row);
        y += RowHeight;
    }

    y += 6;
    addText(this, tr("trials per potential"), 8, y + 4);
    m_trialsEdit = new SpinEdit(QStringLiteral("TrialsEdit"), 1, MaxRunTrials, DefaultFitTrials, 5, this);
    m_trialsEdit->setGeometry(140, y, 60, 26);
    m_seedLabel = addText(this, tr("seed"), 215, y + 4);
    m_seedEdit = new QLineEdit(this);
    m_seedEdit->setObjectName(QStringLiteral("SeedEdit"));
    m_seedEdit->setFont(uiFont(13));
    m_seedEdit->setPlaceholderText(tr("fixed, else fresh"));
    m_seedEdit->setGeometry(250, y, 110, 26);
    m_runBtn = makeTextButton(QStringLiteral("RunBtn"), tr("Run"), 460, y, this);
    m_runBtn->setDefault(true);
    m_breakBtn = makeTextButton(QStringLiteral("BreakBtn"), tr("Break"), 532, y, this);
    m_breakBtn->setEnabled(false);

    y += 34;
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setGeometry(8, y, 380, 18);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progressLabel = addText(this, QString(), 396, y + 1);
    m_progressLabel->setObjectName(QStringLiteral("ProgressLabel"));
    m_progressLabel->setFixedWidth(200);

    y += 26;
    m_resultLabel = new QLabel(this);
    m_resultLabel->setObjectName(QStringLiteral("ResultLabel"));
    m_resultLabel->setFont(uiFont(13));
    m_resultLabel->setWordWrap(true);
    m_resultLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_resultLabel->setGeometry(8, y, ClientWidth - 16, 122);

    y += 126;
    for (int j = 0; j < ProfileFigures; ++j) {
        m_profiles[j]
            = new FigureView(QStringLiteral("Profile%1").arg(j + 1), ProfileWidth, ProfileHeight, this);
        m_profiles[j]->move(8 + j * (ProfileWidth + 8), y);
        m_profiles[j]->hide();
    }

    y += ProfileHeight + 8;
    m_applyBtn = makeTextButton(QStringLiteral("ApplyBtn"), tr("Apply"), 8, y, this);
    m_applyBtn->setEnabled(false);
    m_copyBtn = new QPushButton(tr("Copy fit command"), this);
    m_copyBtn->setObjectName(QStringLiteral("CopyBtn"));
    m_copyBtn->setFont(uiFont(13, true));
    m_copyBtn->setGeometry(76, y, 140, 26);
    m_copyBtn->setEnabled(false);

    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &FitWindow::showProgress);
    connect(m_loadBtn, &QPushButton::clicked, this, [this] { loadMeasuredData(this); });
    connect(m_runBtn, &QPushButton::clicked, this, &FitWindow::RunBtnClick);
    connect(m_breakBtn, &QPushButton::clicked, this, &FitWindow::BreakBtnClick);
    connect(m_applyBtn, &QPushButton::clicked, this, &FitWindow::ApplyBtnClick);
    connect(m_copyBtn, &QPushButton::clicked, this, &FitWindow::CopyBtnClick);
    connect(m_trialsEdit, &SpinEdit::changed, this, [this] {
        int v = 0;
        readSpinValue(m_trialsEdit, &v);
    });
    connect(&measuredData(), &MeasuredDataStore::changed, this, &FitWindow::showData);
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, [this](Param) { showCurrentValues(); });
    showData();
    showCurrentValues();
    showResult();
}

FitWindow::~FitWindow()
{
    if (m_thread) {
        m_job->stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

void FitWindow::showData()
{
    const MeasuredDataPtr data = measuredData().data();
    m_dataLabel->setText(data ? measuredDataText(*data).section(QStringLiteral(": "), 1)
                              : tr("none loaded (Load... or the context menu of Is vs V2)"));
}

void FitWindow::showCurrentValues()
{
    for (const Row &row : m_rows)
        row.current->setText(
            withUnit(*row.info, valueString(*row.info, fieldValue(model().LPC, row.info->field))));
}

bool FitWindow::makeRequest(FitRequest &request, RunProblem *problem) const
{
    const MeasuredDataPtr data = measuredData().data();
    if (!data) {
        *problem = {"the fit", "no measured data loaded", "a measured data file, loaded with Load..."};
        return false;
    }
    request.data = *data;
    request.free.clear();
    for (const Row &row : m_rows) {
        if (!row.free->isChecked())
            continue;
        FreeParameter f {row.info, row.low->value(), row.high->value()};
        for (double *end : {&f.low, &f.high}) {
            const std::string reason = acceptValue(*row.info, *end, end);
            if (!reason.empty()) {
                *problem = {std::string(row.info->name) + " " + valueString(*row.info, *end).toStdString(),
                    reason, rangeText(*row.info)};
                return false;
            }
        }
        request.free.push_back(f);
    }
    request.trials = m_trialsEdit->value();
    const QString seedText = m_seedEdit->text().trimmed();
    if (seedText.isEmpty()) {
        request.seed = seedChoice().fixed ? seedChoice().seed : freshSeed();
    } else {
        bool ok = false;
        const qulonglong seed = seedText.toULongLong(&ok);
        if (!ok || seed > 0xFFFFFFFFull || seedText.size() > 10) {
            *problem = {"seed " + seedText.toStdString(), "not a seed", "0..4294967295, or empty"};
            return false;
        }
        request.seed = static_cast<std::uint32_t>(seed);
    }
    request.fixed = model().LPC;
    request.fixedFrom = "the current parameters (" + currentStateName().toStdString() + ")";
    return checkFit(request, problem);
}

void FitWindow::setRunning(bool running)
{
    m_runBtn->setEnabled(!running);
    m_breakBtn->setEnabled(running);
    m_loadBtn->setEnabled(!running);
    m_applyBtn->setEnabled(!running && m_result);
    m_copyBtn->setEnabled(!running && m_result);
    for (const Row &row : m_rows) {
        row.free->setEnabled(!running);
        row.low->setEnabled(!running);
        row.high->setEnabled(!running);
    }
    m_trialsEdit->setEnabled(!running);
    m_seedEdit->setEnabled(!running);
    if (running) {
        m_progress->setRange(0, 0); // how many candidates a fit takes is not known beforehand
        setCursor(Qt::BusyCursor);
    } else {
        m_progress->setRange(0, 1);
        m_progress->setValue(m_result ? 1 : 0);
        unsetCursor();
    }
}

void FitWindow::RunBtnClick()
{
    if (running())
        return;
    FitRequest request;
    RunProblem problem;
    if (!makeRequest(request, &problem)) {
        QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
            tr("The fit cannot run.\n%1").arg(QString::fromStdString(problem.text())), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("FitRefused"));
        box.exec();
        return;
    }
    m_result.reset();
    m_message.clear();
    m_job = std::make_shared<Job>();
    m_job->request = std::move(request);
    const std::shared_ptr<Job> job = m_job;
    // The fit runs on its own threads; the window reads its count of
    // candidates by a timer and its result when the thread has ended.
    m_thread = QThread::create([job] {
        const std::function<bool()> stop = [job] { return job->stop.load(); };
        try {
            job->result = runFit(
                job->request, localFitEvaluator(job->request, 0, stop),
                [job](const FitProgressStep &step) { job->evaluations.store(step.evaluations); }, stop);
        } catch (const FitStopped &) {
            job->stopped = true;
        } catch (const std::exception &e) {
            job->failure = e.what();
        }
    });
    connect(m_thread, &QThread::finished, this, &FitWindow::fitFinished);
    setRunning(true);
    showResult();
    showProgress();
    m_thread->start();
    m_timer->start();
}

void FitWindow::keyPressEvent(QKeyEvent *event)
{
    // Return runs and Escape breaks, as in the experiment windows.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    QPushButton *button = nullptr;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain)
        button = m_runBtn;
    else if (event->key() == Qt::Key_Escape && plain)
        button = m_breakBtn;
    if (!button) {
        ChildWindow::keyPressEvent(event);
        return;
    }
    if (button->isEnabled())
        button->click();
}

void FitWindow::BreakBtnClick()
{
    if (m_job)
        m_job->stop = true;
}

void FitWindow::showProgress()
{
    const int n = m_job ? m_job->evaluations.load() : 0;
    m_progressLabel->setText(tr("%1 candidates simulated").arg(n));
}

void FitWindow::fitFinished()
{
    if (!m_thread)
        return;
    m_timer->stop();
    m_thread->wait();
    m_thread->deleteLater();
    m_thread = nullptr;
    showProgress();
    if (m_job->result) {
        m_result = std::move(m_job->result);
    } else if (m_job->stopped) {
        m_message = tr("Stopped by Break after %1 candidates: no result; the parameters are as they were.")
                        .arg(m_job->evaluations.load());
    } else {
        m_message = tr("The fit failed: %1").arg(QString::fromStdString(m_job->failure));
    }
    setRunning(false);
    showResult();
    emit fitEnded();
}

void FitWindow::showResult()
{
    for (int j = 0; j < ProfileFigures; ++j) {
        const bool shown = m_result && j < static_cast<int>(m_result->request.free.size());
        if (shown) {
            drawFitProfile(m_profiles[j]->canvas(), *m_result, j);
            m_profiles[j]->update();
        }
        m_profiles[j]->setVisible(shown);
    }
    if (!m_result) {
        m_resultLabel->setText(running() ? tr("Fitting...") : m_message);
        return;
    }
    m_resultLabel->setText(QString::fromStdString(fitSummaryText(*m_result)));
}

void FitWindow::ApplyBtnClick()
{
    if (!m_result || running())
        return;
    // Only the fitted values change; the editors take them as typed, so that
    // the main window marks them and the experiment windows clear.
    ParameterSet s = model().LPC;
    for (std::size_t j = 0; j < m_result->request.free.size(); ++j)
        setFieldValue(s, m_result->request.free[j].info->field, m_result->estimates[j]);
    for (EditorLink *editor : windows().editors)
        if (editor)
            editor->restoreFrom(s);
}

void FitWindow::CopyBtnClick()
{
    if (m_result)
        QApplication::clipboard()->setText(QString::fromStdString(fitCommand(m_result->request)));
}

FitWindow *fitWindow()
{
    return theFitWindow();
}

FitWindow *showFitWindow()
{
    QPointer<FitWindow> &window = theFitWindow();
    if (!window) {
        window = new FitWindow;
        QMdiArea *frame = windows().csMainForm ? windows().csMainForm->frame() : nullptr;
        if (frame)
            window->addTo(frame);
    }
    window->show();
    window->showAndRaise();
    return window;
}

} // namespace cleftsim
