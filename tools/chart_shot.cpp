// Saves a picture of a window for the README: an hour of made-up history in the CSV log (a warming
// board, a silence, input changes), then live replies from the simulated board on 127.0.0.1 past
// the upper limit, whose alert goes to the test mail server on 127.0.0.1. The trend window by
// default; the main window or the settings dialog, in Japanese or English, when asked.
//
//   chart-shot OUTPUT.png [chart|main|settings] [ja|en]    (under a display: xvfb-run -a)
#include "device/BoardSource.h"
#include "gui/FormChart.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "gui/ZarvikApplication.h"
#include "history/HistoryRecorder.h"
#include "history/ReadingLog.h"
#include "i18n/UiLanguage.h"
#include "monitor/Monitor.h"

#include <QAction>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>

namespace {

void fail(const char* why)
{
    std::fprintf(stderr, "chart-shot: %s\n", why);
    std::exit(1);
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// An hour, a reply every 2 s: about 27 ℃ warming towards 31 in the last quarter, the board
// silent for two minutes half an hour ago, RB1 high for the last twenty minutes, RB0 pulsing.
void writeHistory(const QString& iniPath, qint64 nowMs)
{
    QList<HistoryPoint> points;
    for (qint64 ago = 3600; ago > 2; ago -= 2) {
        if (ago < 32 * 60 && ago > 30 * 60)
            continue;
        const double minutes = 60.0 - double(ago) / 60.0;
        const double warm = minutes > 40 ? (minutes - 40) * 0.2 : 0.0;
        const double celsius =
            26.8 + warm + 0.35 * std::sin(minutes / 2.3) + 0.08 * std::sin(double(ago) * 1.7);
        points.append({nowMs - ago * 1000, celsius, ago < 20 * 60, (ago / 60) % 15 < 3});
    }
    QString error;
    if (!ReadingLog::writeDays(iniPath, points, &error))
        fail("cannot write the log");
}

// The port a peer prints once it listens ("listening ..." on its standard output).
QString listeningPort(QProcess& peer, const QString& pattern)
{
    const QRegularExpression listening(pattern);
    QByteArray seen;
    while (peer.waitForReadyRead(5000)) {
        seen += peer.readAllStandardOutput();
        const QRegularExpressionMatch m = listening.match(QString::fromUtf8(seen));
        if (m.hasMatch())
            return m.captured(1);
    }
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    ZarvikApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString window = arguments.value(2, QStringLiteral("chart"));
    const QString language = arguments.value(3, QStringLiteral("ja"));
    if (arguments.size() < 2 || arguments.size() > 4 ||
        !QStringList{"chart", "main", "settings"}.contains(window))
        fail("usage: chart-shot OUTPUT.png [chart|main|settings] [ja|en]");
    UiLanguage::install(app, UiLanguage::choose(language));

    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(ZARVIK_SIM_PATH),
              {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
               QStringLiteral("0"), QStringLiteral("--temp"), QStringLiteral("31.3"),
               QStringLiteral("--bits"), QStringLiteral("2")});
    const QString port = listeningPort(sim, QStringLiteral("listening 127\\.0\\.0\\.1:(\\d+)"));
    QProcess mail;
    mail.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(ZARVIK_TOOLS_DIR "/smtp_sink.py"), QStringLiteral("--port"),
                QStringLiteral("0"), QStringLiteral("--maildir"),
                dir.filePath(QStringLiteral("mail"))});
    const QString mailPort = listeningPort(mail, QStringLiteral("listening \\S+ (\\d+)"));
    if (port.isEmpty() || mailPort.isEmpty())
        fail("the simulated board or the mail server did not start");

    const QString ini = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    QFile file(ini);
    const QByteArray settings = QStringLiteral("[ZARVIK]\r\nAddress=127.0.0.1\r\nPort=%1\r\n"
                                               "[Temp]\r\nUTemp=30\r\nLTemp=20\r\n"
                                               "Check_U=1\r\nCheck_L=1\r\n"
                                               "[Mail]\r\nAddress=127.0.0.1:%2\r\n"
                                               "From=zarvik@localhost\r\nTo=you@localhost\r\n"
                                               "[Watch]\r\nLog=1\r\n")
                                    .arg(port, mailPort)
                                    .toLatin1();
    if (!file.open(QIODevice::WriteOnly) || file.write(settings) != settings.size())
        fail("cannot write the settings file");
    file.close();
    writeHistory(ini, QDateTime::currentMSecsSinceEpoch());

    Shell shell(ini);
    TFormZARVIK_Mail* form = shell.FormZARVIK_Mail();
    shell.monitor()->source().Timer1->setInterval(500);
    shell.show();
    if (window == QLatin1String("chart"))
        form->ViewChart->trigger();
    wait(4000);
    bool saved = false;
    if (window == QLatin1String("settings")) {
        // The dialog runs modal: it is pictured and closed from inside its own loop.
        TToolSettingDlg* dialog = shell.ToolSettingDlg();
        QTimer::singleShot(500, dialog, [&] {
            saved = dialog->grab().save(arguments.at(1));
            dialog->reject();
        });
        form->ToolSetting->trigger();
    } else {
        QWidget* shown =
            window == QLatin1String("main") ? static_cast<QWidget*>(form) : shell.Chart();
        saved = shown->grab().save(arguments.at(1));
    }
    for (QProcess* peer : {&sim, &mail}) {
        peer->kill();
        peer->waitForFinished();
    }
    if (!saved)
        fail("cannot save the picture");
    return 0;
}
