#include "experiments/fitwindow.h"

#include "experiments/copywindows.h"
#include "experiments/experimentbuttons.h"
#include "experiments/measuredoverlay.h"
#include "model/rounding.h"
#include "run/rundescription.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "widgets/parameterundo.h"
#include "widgets/windowset.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>

namespace cleftsim {

namespace {

// The size of the window and of its profile figures [pixels].
constexpr int ClientWidth = 616;
constexpr int ClientHeight = 648;
constexpr int ProfileWidth = 146;
constexpr int ProfileHeight = 124;
// The height of the result's text area; longer text scrolls [pixels].
constexpr int ResultHeight = 112;
// The rows of the parameters.
constexpr int FirstRowY = 62;
constexpr int RowHeight = 24;

QPointer<FitWindow> &theFitWindow()
{
    static QPointer<FitWindow> window;
    return window;
}

// A session's fit brought back before the window was made.
std::optional<FitResult> &fitOfSession()
{
    static std::optional<FitResult> fit;
    return fit;
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

QString fitParameterName(const ParamInfo &info)
{
    // The editors and the main window's panel name these in words, the
    // others by their symbols.
    static const std::map<Param, const char *> Words = {{Param::du, "duration"}, {Param::ex, "exponent"},
        {Param::gf, "norm factor"}, {Param::tc, "time constant"}};
    const QString code = QString::fromLatin1(info.name);
    const auto word = Words.find(info.field);
    return word == Words.end() ? code : QString::fromLatin1(word->second) + QStringLiteral(" (") + code + ')';
}

QString fitParameterTip(const ParamInfo &info)
{
    return QStringLiteral("%1 (%2)%3; accepted %4")
        .arg(QString::fromLatin1(info.meaning), QString::fromLatin1(info.name),
            *info.unit ? QStringLiteral(" in ") + QString::fromLatin1(info.unit)
                       : QStringLiteral(", no unit"),
            QString::fromStdString(rangeText(info)));
}

namespace {

// Ticks of an axis from low to high: a step of 1, 2 or 5 times a power of
// ten, no finer than the editor's grid, that gives at most `most` ticks.
std::vector<double> axisTicks(double low, double high, int decimals, int most)
{
    const double grid = std::pow(10.0, -decimals);
    double step = grid;
    for (int k = 0; k < 40; ++k) {
        const double candidate = std::pow(10.0, std::floor(k / 3) - decimals)
            * (k % 3 == 0        ? 1
                    : k % 3 == 1 ? 2
                                 : 5);
        step = candidate;
        if (std::floor(high / step + 1e-9) - std::ceil(low / step - 1e-9) + 1 <= most)
            break;
    }
    std::vector<double> ticks;
    for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9; k += 1)
        ticks.push_back(k * step + 0.0);
    return ticks;
}

} // namespace

void drawFitProfile(Canvas &c, const FitResult &result, int j)
{
    ClearFrame(c, colors::White, c.width(), c.height());
    const FreeParameter &f = result.request.free[static_cast<std::size_t>(j)];
    const ParamInfo &info = *f.info;
    const std::vector<ProfilePoint> &profile = result.profiles[static_cast<std::size_t>(j)];
    c.setFont(uiFont(11));
    const int text = c.textHeight();
    // The plot: the parameter's values across, -2 log L above the best from
    // 0 to twice the 95 % line upwards; the scale's numbers on the left, the
    // parameter's name below, the interval's ends above.
    const int left = 2 + text + 14, right = c.width() - 7, top = text + 4, bottom = c.height() - 2 * text - 6;
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

    // The interval shaded, its ends written above the plot.
    const auto &interval = result.intervals[static_cast<std::size_t>(j)];
    c.setBrushColor(colors::Silver);
    c.fillRect(xOf(interval.first), top, xOf(interval.second) + 1, bottom);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setFontColor(colors::Black);
    c.textOut(left, 1,
        QStringLiteral("95 %: ") + valueString(info, interval.first) + QStringLiteral(" .. ")
            + valueString(info, interval.second));
    // The axes with their ticks: -2 log L at 0, 2, 4 and 6, the parameter at
    // round values.
    c.setPenColor(colors::Grey);
    c.setPenStyle(Canvas::PenStyle::Solid);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    drawSegment(c, left, top, left, bottom + 1);
    drawSegment(c, left, bottom, right + 1, bottom);
    c.setFontColor(colors::Grey);
    for (int d = 0; d <= 6; d += 2) {
        const int y = yOf(d);
        drawSegment(c, left - 3, y, left, y);
        const QString label = QString::number(d);
        c.textOut(left - 5 - c.textWidth(label), y - text / 2, label);
    }
    for (double v : axisTicks(low, high, info.decimals, 3)) {
        const int x = xOf(v);
        drawSegment(c, x, bottom, x, bottom + 4);
        const QString label = valueString(info, v);
        c.textOut(
            std::clamp(x - c.textWidth(label) / 2, 0, c.width() - c.textWidth(label)), bottom + 4, label);
    }
    const QString code = QString::fromLatin1(info.name);
    const QString name
        = *info.unit ? code + QStringLiteral(" (") + QString::fromLatin1(info.unit) + ')' : code;
    c.setFontColor(colors::Black);
    c.textOut(left + (right - left - c.textWidth(name)) / 2, bottom + text + 5, name);
    DrawVerticalText(
        c, 1, top + (bottom - top + c.textWidth(QStringLiteral("-2 log L"))) / 2, QStringLiteral("-2 log L"));
    // The 95 % line, named below it in the middle of the interval, where
    // the profile runs below the line.
    c.setPenColor(colors::Grey);
    c.setPenStyle(Canvas::PenStyle::Dot);
    drawSegment(c, left, yOf(ProfileThreshold), right + 1, yOf(ProfileThreshold));
    c.setPenStyle(Canvas::PenStyle::Solid);
    c.setFontColor(colors::Grey);
    const QString line = QStringLiteral("3.84");
    const int middle = (xOf(interval.first) + xOf(interval.second)) / 2;
    c.textOut(std::clamp(middle - c.textWidth(line) / 2, left + 2, right - c.textWidth(line)),
        yOf(ProfileThreshold) + 2, line);
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

    addResultArea(addRunControls(addParameterRows()));
    connectControls();
    showData();
    showCurrentValues();
    if (fitOfSession()) {
        m_result = std::move(fitOfSession());
        fitOfSession().reset();
        setRunning(false);
    }
    showResult();
}

int FitWindow::addParameterRows()
{
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
        const QString code = QString::fromLatin1(info->name);
        const QString tip = fitParameterTip(*info);
        row.free = new QCheckBox(tr("free"), this);
        row.free->setObjectName(QStringLiteral("Free_") + code);
        row.free->setFont(uiFont(13));
        row.free->move(8, y);
        row.free->adjustSize();
        row.free->setToolTip(tip);
        QLabel *name = addText(this,
            *info->unit ? fitParameterName(*info) + QStringLiteral(", ") + QString::fromLatin1(info->unit)
                        : fitParameterName(*info),
            66, y + 2);
        name->setObjectName(QStringLiteral("Name_") + code);
        name->setToolTip(tip);
        QDoubleSpinBox **ends[2] = {&row.low, &row.high};
        const double values[2] = {info->min, info->max};
        for (int k = 0; k < 2; ++k) {
            auto *edit = new QDoubleSpinBox(this);
            edit->setObjectName((k == 0 ? QStringLiteral("Low_") : QStringLiteral("High_")) + code);
            edit->setFont(uiFont(13));
            edit->setLocale(QLocale::c());
            edit->setDecimals(info->decimals);
            edit->setRange(info->min, info->max);
            edit->setSingleStep(std::pow(10.0, -info->decimals));
            edit->setValue(values[k]);
            edit->setGeometry(215 + 90 * k, y, 80, 22);
            edit->setToolTip(tip);
            *ends[k] = edit;
        }
        row.current = addText(this, QString(), 395, y + 2);
        row.current->setObjectName(QStringLiteral("Current_") + code);
        row.current->setFixedWidth(150);
        m_rows.push_back(row);
        y += RowHeight;
    }
    return y;
}

int FitWindow::addRunControls(int y)
{
    y += 6;
    addText(this, tr("trials per potential"), 8, y + 4);
    m_trialsEdit = new SpinEdit(QStringLiteral("TrialsEdit"), 1, MaxRunTrials, DefaultFitTrials, 5, this);
    m_trialsEdit->setGeometry(140, y, 60, 26);
    m_trialsEdit->setToolTip(
        tr("simulated trials per measured potential and candidate; accepted 1..%1").arg(MaxRunTrials));
    m_seedLabel = addText(this, tr("seed"), 215, y + 4);
    m_seedEdit = new QLineEdit(this);
    m_seedEdit->setObjectName(QStringLiteral("SeedEdit"));
    m_seedEdit->setFont(uiFont(13));
    m_seedEdit->setPlaceholderText(tr("fixed, else fresh"));
    m_seedEdit->setGeometry(250, y, 110, 26);
    m_runBtn = makeTextButton(QStringLiteral("RunBtn"), tr("Run"), 476, y, this);
    m_runBtn->setDefault(true);
    m_breakBtn = makeTextButton(QStringLiteral("BreakBtn"), tr("Break"), 548, y, this);
    m_breakBtn->setEnabled(false);

    y += 34;
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setGeometry(8, y, 260, 18);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progressLabel = addText(this, QString(), 276, y + 1);
    m_progressLabel->setObjectName(QStringLiteral("ProgressLabel"));
    m_progressLabel->setFixedWidth(ClientWidth - 284);
    return y;
}

void FitWindow::addResultArea(int y)
{
    // The result as text that scrolls where it is longer than its place.
    y += 26;
    m_resultText = new QPlainTextEdit(this);
    m_resultText->setObjectName(QStringLiteral("ResultText"));
    m_resultText->setFont(uiFont(13));
    m_resultText->setReadOnly(true);
    m_resultText->setGeometry(8, y, ClientWidth - 16, ResultHeight);

    y += ResultHeight + 6;
    for (int j = 0; j < ProfileFigures; ++j) {
        m_profiles[j]
            = new FigureView(QStringLiteral("Profile%1").arg(j + 1), ProfileWidth, ProfileHeight, this);
        m_profiles[j]->move(8 + j * (ProfileWidth + 4), y);
        m_profiles[j]->hide();
    }

    y += ProfileHeight + 8;
    m_applyBtn = makeTextButton(QStringLiteral("ApplyBtn"), tr("Apply"), 8, y, this);
    m_applyBtn->setEnabled(false);
    m_applyBtn->setToolTip(
        tr("Sets the values the fit ran with and its estimates; Edit > Undo (Ctrl+Z) takes "
           "them back"));
    m_copyBtn = new QPushButton(tr("Copy fit command"), this);
    m_copyBtn->setObjectName(QStringLiteral("CopyBtn"));
    m_copyBtn->setFont(uiFont(13, true));
    m_copyBtn->setGeometry(76, y, 140, 26);
    m_copyBtn->setEnabled(false);
    m_applyNote = new QLabel(this);
    m_applyNote->setObjectName(QStringLiteral("ApplyNote"));
    m_applyNote->setFont(uiFont(11));
    m_applyNote->setWordWrap(true);
    m_applyNote->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_applyNote->setGeometry(224, y - 4, ClientWidth - 232, 34);
}

void FitWindow::connectControls()
{
    m_clock = new QElapsedTimer;
    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &FitWindow::showProgress);
    connect(m_loadBtn, &QPushButton::clicked, this, [this] { loadMeasuredData(this); });
    connect(m_runBtn, &QPushButton::clicked, this, &FitWindow::RunBtnClick);
    connect(m_breakBtn, &QPushButton::clicked, this, &FitWindow::BreakBtnClick);
    connect(m_applyBtn, &QPushButton::clicked, this, &FitWindow::ApplyBtnClick);
    connect(m_copyBtn, &QPushButton::clicked, this, &FitWindow::CopyBtnClick);
    // The trials follow the rule of every spin edit: a number outside is
    // pulled back to the bound and written back, at once and visibly.
    connect(m_trialsEdit, &SpinEdit::changed, this, [this] {
        int v = 0;
        if (readSpinValue(m_trialsEdit, &v))
            m_trials = v;
    });
    connect(
        m_trialsEdit, &SpinEdit::editingFinished, this, [this] { finishSpinText(m_trialsEdit, m_trials); });
    connect(&measuredData(), &MeasuredDataStore::changed, this, &FitWindow::showData);
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, [this](Param) {
        showCurrentValues();
        showApplyNote();
    });
}

void FitWindow::showFit(const FitResult &result)
{
    if (running())
        return;
    m_result = result;
    m_message.clear();
    setRunning(false);
    showResult();
}

FitWindow::~FitWindow()
{
    if (m_thread) {
        m_job->stop = true;
        m_thread->wait();
        delete m_thread;
    }
    delete m_clock;
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
    request.trials = m_trials;
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
        m_progress->setRange(0, 1);
        m_progress->setValue(0);
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
                [job](const FitProgressStep &step) {
                    const std::lock_guard<std::mutex> lock(job->stepLock);
                    job->step = step;
                    job->evaluations.store(step.evaluations);
                },
                stop);
        } catch (const FitStopped &) {
            job->stopped = true;
        } catch (const std::exception &e) {
            job->failure = e.what();
        }
    });
    connect(m_thread, &QThread::finished, this, &FitWindow::fitFinished);
    setRunning(true);
    showResult();
    m_clock->start();
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

QString fitProgressText(const FitProgressStep &step, qint64 elapsedMsec, bool running)
{
    const qint64 seconds = elapsedMsec / 1000;
    const QString elapsed
        = QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (!running)
        return QObject::tr("%1 candidates in %2").arg(step.evaluations).arg(elapsed);
    if (step.stageCount == 0)
        return QObject::tr("starting, %1").arg(elapsed);
    const QString stage = QObject::tr("%1 (stage %2 of %3)")
                              .arg(QString::fromStdString(step.stage))
                              .arg(step.stageIndex + 1)
                              .arg(step.stageCount);
    const QString within
        = step.total > 0 ? QObject::tr(", %1 of %2").arg(step.done).arg(step.total) : QString();
    return QObject::tr("%1%2; %3 candidates, %4").arg(stage, within).arg(step.evaluations).arg(elapsed);
}

int fitProgressValue(const FitProgressStep &step, int perStage)
{
    if (step.stageCount == 0)
        return 0;
    const int within = step.total > 0
        ? static_cast<int>(static_cast<long long>(perStage) * std::min(step.done, step.total) / step.total)
        : 0;
    return step.stageIndex * perStage + within;
}

void FitWindow::showProgress()
{
    if (!m_job) {
        m_progressLabel->clear();
        return;
    }
    FitProgressStep step;
    {
        const std::lock_guard<std::mutex> lock(m_job->stepLock);
        step = m_job->step;
    }
    // A stage whose size is known fills its share of the bar as it goes;
    // the others fill theirs when they end.
    constexpr int PerStage = 1000;
    if (running() && step.stageCount > 0) {
        m_progress->setRange(0, step.stageCount * PerStage);
        m_progress->setValue(fitProgressValue(step, PerStage));
    }
    m_progressLabel->setText(fitProgressText(step, m_clock->isValid() ? m_clock->elapsed() : 0, running()));
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
    showApplyNote();
    for (int j = 0; j < ProfileFigures; ++j) {
        const bool shown = m_result && j < static_cast<int>(m_result->request.free.size());
        if (shown) {
            drawFitProfile(m_profiles[j]->canvas(), *m_result, j);
            m_profiles[j]->update();
        }
        m_profiles[j]->setVisible(shown);
    }
    if (!m_result) {
        m_resultText->setPlainText(running() ? tr("Fitting...") : m_message);
        return;
    }
    m_resultText->setPlainText(QString::fromStdString(fitSummaryText(*m_result)));
}

namespace {

// The values fixed at Run that differ from the current parameters, each
// with its value now.
QStringList fitSetDifferences(const FitResult &result, const ParameterSet &current)
{
    const ParameterSet fitted = fittedParameters(result);
    QStringList differences;
    if (fitted.BackgroundOn != current.BackgroundOn)
        differences << (fitted.BackgroundOn ? QObject::tr("background conductance on (off now)")
                                            : QObject::tr("background conductance off (on now)"));
    for (const ParamInfo *info : numericParams()) {
        bool isFree = false;
        for (const FreeParameter &f : result.request.free)
            isFree = isFree || f.info == info;
        const double a = fieldValue(fitted, info->field), b = fieldValue(current, info->field);
        if (!isFree && a != b)
            differences << QObject::tr("%1 %2 (%3 now)")
                               .arg(QString::fromLatin1(info->name), valueString(*info, a),
                                   valueString(*info, b));
    }
    return differences;
}

} // namespace

void FitWindow::showApplyNote()
{
    if (!m_result) {
        m_applyNote->clear();
        return;
    }
    const QStringList differences = fitSetDifferences(*m_result, model().LPC);
    if (fittedParameters(*m_result) == model().LPC)
        m_applyNote->setText(tr("The current parameters are the fitted set."));
    else if (differences.isEmpty())
        m_applyNote->setText(tr("Apply sets the estimates."));
    else
        m_applyNote->setText(tr("The fit ran with %1: Apply sets these with the estimates.")
                                 .arg(differences.join(QStringLiteral(", "))));
}

void FitWindow::ApplyBtnClick()
{
    if (!m_result || running())
        return;
    // The whole set the fit ran with: the values fixed at Run and the
    // estimates, never estimates beside fixed values they were not fitted
    // with. The editors take them as typed, so that the main window marks
    // them and the experiment windows clear; Edit > Undo takes them back.
    const QStringList differences = fitSetDifferences(*m_result, model().LPC);
    const ParameterSnapshot before = currentSnapshot();
    {
        ParameterChangeScope scope;
        const ParameterSet fitted = fittedParameters(*m_result);
        for (EditorLink *editor : windows().editors)
            if (editor)
                editor->restoreFrom(fitted);
    }
    recordParameterChange(tr("Apply the fit"), before);
    showApplyNote();
    if (!differences.isEmpty())
        m_applyNote->setText(tr("Applied the set the fit ran with, also %1 (Edit > Undo takes it back).")
                                 .arg(differences.join(QStringLiteral(", "))));
}

void FitWindow::CopyBtnClick()
{
    if (m_result)
        QApplication::clipboard()->setText(QString::fromStdString(fitCommand(m_result->request)));
}

const FitResult *lastFit()
{
    if (FitWindow *window = theFitWindow())
        return window->result();
    return fitOfSession() ? &*fitOfSession() : nullptr;
}

void restoreFit(const FitResult &result)
{
    if (FitWindow *window = theFitWindow())
        window->showFit(result);
    else
        fitOfSession() = result;
}

void keepRecording(StatesSession &session)
{
    const MeasuredDataPtr data = measuredData().data();
    if (!data)
        return;
    session.measured = *data;
    const FitResult *fit = lastFit();
    if (fit && fit->request.data.sha256 == data->sha256 && fit->request.data.name == data->name)
        session.fit = *fit;
}

void restoreRecording(const StatesSession &session)
{
    if (session.measured)
        measuredData().setData(std::make_shared<MeasuredData>(*session.measured));
    if (session.fit)
        restoreFit(*session.fit);
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
