// Reply handling of the real windows (offscreen) as the history grows and the trend window is
// open, and resident memory with a day of history. One configuration per run, printed as
// "name value" lines:
//   reply sent to the reply handler done (NowTemp changed, the history and the chart updated),
//   to the next idle (alert) pass done, and, with the chart open, to the chart view repainted;
//   time to start with the log's history loaded; VmRSS once the samples are done.
//
//   bench_history --config NAME [--samples N]
//   NAME: closed-empty, closed-day, open-hour, open-day-hourview, open-day-dayview
#include "Rig.h"
#include "Stats.h"
#include "core/IdlePass.h"
#include "gui/FormChart.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "gui/ZarvikApplication.h"
#include "history/HistoryRecorder.h"
#include "history/ReadingLog.h"
#include "monitor/Monitor.h"

#include <QAction>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr int WarmUpSamples = 50;
constexpr int HourPoints = 1800; // a reply every 2 s
constexpr int DayPoints = 43200;

struct Config {
    int historyPoints;
    bool log;
    bool chartOpen;
    FormChart::Span span;
};

const std::map<QString, Config> Configs = {
    {QStringLiteral("closed-empty"), {0, false, false, FormChart::OneHour}},
    {QStringLiteral("closed-day"), {DayPoints, true, false, FormChart::OneHour}},
    {QStringLiteral("open-hour"), {HourPoints, true, true, FormChart::OneHour}},
    {QStringLiteral("open-day-hourview"), {DayPoints, true, true, FormChart::OneHour}},
    {QStringLiteral("open-day-dayview"), {DayPoints, true, true, FormChart::OneDay}},
};

// `count` replies 2 s apart up to now, in the daily files the program would have written: a
// slow wave with an input change every ten minutes.
void writeLog(const QString& iniPath, int count)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QList<HistoryPoint> points;
    for (int i = 0; i < count; ++i) {
        const qint64 ms = now - qint64(count - i) * 2000;
        points.append(
            {ms, 25.0 + 5.0 * std::sin(double(i) / 900.0), (i / 300) % 2 == 1, (i / 450) % 2 == 1});
    }
    QString error;
    if (!ReadingLog::writeDays(iniPath, points, &error)) {
        std::fprintf(stderr, "bench_history: cannot write %s\n", qPrintable(error));
        std::exit(1);
    }
}

double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0.0;
}

// Sees the chart view's paints; the time is taken at the next wait, once painting is over.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

int chartPoints(const FormChart* chart)
{
    int points = 0;
    for (const FormChart::Segment& segment : chart->segments())
        points += segment.temp->count() - (segment.joined ? 1 : 0);
    return points;
}

bool measure(Rig& rig, FormChart* chart, int samples)
{
    struct Sample {
        bool armed = false;
        QString before;
        qint64 handlerNs = 0;
        qint64 passDoneNs = 0;
        qint64 paintNs = 0;
        quint64 passesAtHandler = 0;
    } s;
    PaintWatch paints;
    if (chart)
        chart->ChartView->viewport()->installEventFilter(&paints);
    QLabel* nowTemp = rig.form()->NowTemp;
    auto passes = [&] { return rig.shell()->monitor()->idlePass()->passCount(); };
    rig.afterReply = [&] {
        if (s.armed && !s.handlerNs && nowTemp->text() != s.before) {
            s.handlerNs = Rig::nowNs();
            s.passesAtHandler = passes();
            paints.painted = false;
        }
    };
    rig.afterPass = [&] {
        if (!s.handlerNs)
            return;
        if (!s.passDoneNs && passes() > s.passesAtHandler)
            s.passDoneNs = Rig::nowNs();
        if (!s.paintNs && paints.painted)
            s.paintNs = Rig::nowNs();
    };
    std::vector<double> handler, pass, paint;
    for (int i = 0; i < WarmUpSamples + samples; ++i) {
        s = Sample{true, nowTemp->text()};
        const int pointsBefore = chart ? chartPoints(chart) : 0;
        const qint64 sendNs = Rig::nowNs();
        rig.sendReply(i % 2 ? 61 : 60, i % 20 < 10 ? 0x02 : 0x01);
        if (!rig.waitUntil([&] { return s.passDoneNs != 0; }, 5000)) {
            std::fprintf(stderr, "bench_history: reply %d was not shown\n", i);
            return false;
        }
        // In the day view most replies only join their minute's bucket: nothing to repaint.
        if (chart && chartPoints(chart) != pointsBefore)
            rig.waitUntil([&] { return s.paintNs != 0; }, 1000);
        if (i < WarmUpSamples)
            continue;
        handler.push_back(double(s.handlerNs - sendNs) / 1000.0);
        pass.push_back(double(s.passDoneNs - sendNs) / 1000.0);
        if (s.paintNs)
            paint.push_back(double(s.paintNs - sendNs) / 1000.0);
    }
    rig.afterReply = nullptr;
    rig.afterPass = nullptr;
    Stats::print("samples", double(samples));
    Stats::printSpread("handler", handler);
    Stats::printSpread("pass", pass);
    if (!paint.empty()) {
        Stats::print("paint_samples", double(paint.size()));
        Stats::printSpread("paint", paint);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ZarvikApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const auto config = Configs.find(args.value(args.indexOf(QStringLiteral("--config")) + 1));
    const int samples = args.contains(QStringLiteral("--samples"))
                            ? args.value(args.indexOf(QStringLiteral("--samples")) + 1).toInt()
                            : 1000;
    if (args.size() < 3 || config == Configs.end() || samples <= 0) {
        std::fprintf(stderr, "usage: bench_history --config NAME [--samples N]\n");
        return 2;
    }
    const Config& c = config->second;

    qint64 startNs = 0; // once the log files are written
    Rig rig(c.log ? QStringLiteral("[Watch]\nLog=1\n") : QString(), [&](const QString& iniPath) {
        writeLog(iniPath, c.historyPoints);
        startNs = Rig::nowNs();
    });
    const qint64 startedNs = Rig::nowNs();
    Stats::print("history_points",
                 double(rig.shell()->monitor()->history().history().points().size()));
    Stats::print("start_with_history_ms", double(startedNs - startNs) / 1e6);
    rig.runFor(200);

    FormChart* chart = nullptr;
    if (c.chartOpen) {
        const qint64 openNs = Rig::nowNs();
        rig.form()->ViewChart->trigger();
        chart = rig.shell()->Chart();
        chart->CmbChartSpan->setCurrentIndex(c.span);
        Stats::print("chart_open_ms", double(Rig::nowNs() - openNs) / 1e6);
        rig.runFor(300);
        Stats::print("chart_points", double(chartPoints(chart)));
    }
    if (!measure(rig, chart, samples))
        return 1;
    if (chart) {
        // What the view's step costs (once per twentieth of the span): the time axis moved,
        // every point in view laid out again.
        std::vector<double> steps;
        const QDateTime from = chart->AxisTime->min();
        const QDateTime to = chart->AxisTime->max();
        for (int i = 1; i <= 21; ++i) {
            const qint64 t0 = Rig::nowNs();
            chart->AxisTime->setRange(from.addSecs(i), to.addSecs(i));
            steps.push_back(double(Rig::nowNs() - t0) / 1000.0);
        }
        Stats::print("axis_step_median_us", Stats::median(steps));
    }
    Stats::print("vmrss_mib", residentMiB());
    std::fflush(stdout);
    return 0;
}
