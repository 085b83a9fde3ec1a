// In-process timings of the real main window (offscreen), printed as "name value" lines for
// bench/measure.py:
//   reply to display updated and to the idle pass done (median, p99),
//   decoding throughput under a flood of correct replies,
//   alert pass start and end for each mail sent to the SMTP server at 127.0.0.1:PORT
//   (the server notes when it accepted each one).
//
//   bench_inprocess --smtp-port PORT [--samples N] [--mails M] [--flood-ms MS]
#include "ReplyFlood.h"
#include "Rig.h"
#include "Stats.h"
#include "core/IdlePass.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "gui/ZarvikApplication.h"
#include "history/HistoryRecorder.h"
#include "mail/MailService.h"
#include "monitor/Monitor.h"

#include <QCheckBox>
#include <QLabel>
#include <cstdio>
#include <vector>

namespace {

constexpr int WarmUpSamples = 50;
constexpr quint16 RawLow = 60;  // 29.3 degrees
constexpr quint16 RawHigh = 61; // 29.8 degrees
constexpr quint16 RawHot = 103; // 50.3 degrees, above the upper limit of 30

struct Options {
    quint16 smtpPort = 0;
    int samples = 1000;
    int mails = 50;
    int floodMs = 2000;
};

bool parse(const QStringList& args, Options& options)
{
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        bool ok = false;
        const int value = args[i + 1].toInt(&ok);
        if (!ok || value <= 0)
            return false;
        if (args[i] == QStringLiteral("--smtp-port") && value < 65536)
            options.smtpPort = quint16(value);
        else if (args[i] == QStringLiteral("--samples"))
            options.samples = value;
        else if (args[i] == QStringLiteral("--mails"))
            options.mails = value;
        else if (args[i] == QStringLiteral("--flood-ms"))
            options.floodMs = value;
        else
            return false;
    }
    return args.size() % 2 == 1 && options.smtpPort != 0;
}

quint64 passCount(const Rig& rig)
{
    return rig.shell()->monitor()->idlePass()->passCount();
}

// Reply sent, then: its text on NowTemp, then the first idle pass that starts after that is done.
bool measureDisplay(Rig& rig, int samples)
{
    struct Sample {
        bool armed = false;
        QString before;
        qint64 displayNs = 0;
        qint64 passDoneNs = 0;
        quint64 passesAtDisplay = 0;
    } s;
    QLabel* nowTemp = rig.form()->NowTemp;
    rig.afterReply = [&] {
        if (s.armed && !s.displayNs && nowTemp->text() != s.before) {
            s.displayNs = Rig::nowNs();
            s.passesAtDisplay = passCount(rig);
        }
    };
    rig.afterPass = [&] {
        if (s.displayNs && !s.passDoneNs && passCount(rig) > s.passesAtDisplay)
            s.passDoneNs = Rig::nowNs();
    };

    std::vector<double> display;
    std::vector<double> pass;
    for (int i = 0; i < WarmUpSamples + samples; ++i) {
        s = Sample{true, nowTemp->text()};
        const qint64 sendNs = Rig::nowNs();
        rig.sendReply(i % 2 ? RawHigh : RawLow);
        if (!rig.waitUntil([&] { return s.passDoneNs != 0; }, 5000)) {
            std::fprintf(stderr, "bench_inprocess: reply %d was not shown\n", i);
            return false;
        }
        if (i < WarmUpSamples)
            continue;
        display.push_back(double(s.displayNs - sendNs) / 1000.0);
        pass.push_back(double(s.passDoneNs - sendNs) / 1000.0);
    }
    rig.afterReply = nullptr;
    rig.afterPass = nullptr;
    Stats::print("display_samples", double(samples));
    Stats::printSpread("display", display);
    Stats::printSpread("pass", pass);
    return true;
}

void measureFlood(Rig& rig, int durationMs)
{
    quint64 decoded = 0;
    qint64 lastNs = 0;
    rig.afterReply = [&] {
        ++decoded;
        lastNs = Rig::nowNs();
    };
    const qint64 startNs = Rig::nowNs();
    ReplyFlood flood(rig.programPort(), durationMs);
    rig.runFor(durationMs);
    flood.join();
    rig.runFor(500); // what is still queued
    rig.afterReply = nullptr;
    const double seconds = double(lastNs - startNs) / 1e9;
    Stats::print("flood_sent", double(flood.sent()));
    Stats::print("flood_decoded", double(decoded));
    Stats::print("flood_seconds", seconds);
    Stats::print("flood_rate", seconds > 0 ? double(decoded) / seconds : 0.0);
}

// Each sample re-arms the rules; the next idle pass finds the temperature above the limit and
// mails. The first mail of the run is reported apart: it must not pay for set-up the others
// skip (the sink also keeps its text for curl to send).
bool measureMail(Rig& rig, int mails)
{
    rig.sendReply(RawHot);
    if (!rig.waitUntil([&] { return rig.shell()->monitor()->readings().NowTempValue > 50; },
                       5000)) {
        std::fprintf(stderr, "bench_inprocess: the hot reply was not decoded\n");
        return false;
    }
    struct Sample {
        bool armed = false;
        qint64 startNs = 0;
        qint64 endNs = 0;
        quint64 passesAtStart = 0;
    } s;
    rig.beforePass = [&] {
        if (s.armed && !s.startNs) {
            s.startNs = Rig::nowNs();
            s.passesAtStart = passCount(rig);
        }
    };
    rig.afterPass = [&] {
        if (s.startNs && !s.endNs && passCount(rig) > s.passesAtStart)
            s.endNs = Rig::nowNs();
    };
    // One alert mail goes at a time: a pass while one is under way leaves the rules alone, so
    // each sample re-arms them only once the last mail is over.
    int finished = 0;
    const QMetaObject::Connection counting = QObject::connect(
        &rig.shell()->monitor()->mail(), &MailService::alertFinished, [&] { ++finished; });
    rig.dialog()->ChkBoxUTemp->setChecked(true);
    for (int i = 0; i <= mails; ++i) {
        if (!rig.waitUntil([&] { return finished == i; }, 30000)) {
            std::fprintf(stderr, "bench_inprocess: mail %d was not over\n", i - 1);
            return false;
        }
        rig.shell()->monitor()->SendFlagClr();
        s = Sample{true};
        if (!rig.waitUntil([&] { return s.endNs != 0; }, 30000) ||
            rig.shell()->monitor()->alertState().SendFlagUTemp) {
            std::fprintf(stderr, "bench_inprocess: mail %d did not go\n", i);
            return false;
        }
        std::printf("%s %lld %lld\n", i == 0 ? "mail_first" : "mail", (long long)s.startNs,
                    (long long)s.endNs);
        rig.runFor(2);
    }
    rig.waitUntil([&] { return finished == mails + 1; }, 30000);
    QObject::disconnect(counting);
    rig.dialog()->ChkBoxUTemp->setChecked(false);
    rig.beforePass = nullptr;
    rig.afterPass = nullptr;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ZarvikApplication app(argc, argv);
    Options options;
    if (!parse(QCoreApplication::arguments(), options)) {
        std::fprintf(stderr, "usage: bench_inprocess --smtp-port PORT [--samples N] [--mails M] "
                             "[--flood-ms MS]\n");
        return 2;
    }
    const QString mailSettings = QStringLiteral("[Temp]\nUTemp=30\nCheck_U=0\nCheck_L=0\n"
                                                "[Sensor]\nRB1=2\nRB0=2\n"
                                                "[Mail]\nPriority=1\nAddress=127.0.0.1:%1\n"
                                                "User=zarvik-bench\n"
                                                "From=ZARVIK Mail <zarvik@localhost>\n"
                                                "To=bench@localhost\n")
                                     .arg(options.smtpPort);
    Rig rig(mailSettings);
    rig.runFor(200); // first paint, first poll

    if (!measureDisplay(rig, options.samples))
        return 1;
    // The mails before the flood: what the flood leaves in the socket buffer would be decoded
    // during the first one.
    if (!measureMail(rig, options.mails))
        return 1;
    measureFlood(rig, options.floodMs);
    std::fflush(stdout);
    return 0;
}
