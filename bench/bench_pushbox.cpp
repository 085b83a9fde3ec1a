// What kept pushes cost while their server stays down: N kept pushes planted in the pushbox,
// the ntfy channel pointed at tools/http_sink.py answering 503, retrying turned on, and the
// process's CPU time over a fixed window with the real waits. Printed as "name value" lines.
//
//   bench_pushbox --sink tools/http_sink.py [--kept N] [--seconds S]
#include "push/PushChannels.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Files as this build keeps them, named as if kept a millisecond apart an hour ago.
bool plant(const QString& folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    PushNotice notice;
    notice.subject = QStringLiteral("Over 30C");
    notice.message = QStringLiteral("温度が 30℃を超えました。");
    notice.priority = 0;
    const PushRequest request = PushChannels::ntfyRequest(notice);
    QByteArray bytes = "ZARVIK-Push 1\r\nntfy\r\n";
    for (const QByteArray& field : request.headers)
        bytes += field + "\r\n";
    bytes += "\r\n" + request.body;
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-3600);
    for (int i = 0; i < count; ++i) {
        QFile file(QDir(folder).filePath(
            start.addMSecs(i).toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
            QStringLiteral("-000.push")));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        const qsizetype at = args.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const int kept = option("--kept", QStringLiteral("1000")).toInt();
    const int seconds = option("--seconds", QStringLiteral("20")).toInt();
    const QString script = option("--sink", QString());
    QTemporaryDir dir;
    QTemporaryDir sinkDir;
    const QString folder = dir.filePath(QStringLiteral("ZARVIK_Mail.pushbox"));
    if (script.isEmpty() || !dir.isValid() || !sinkDir.isValid() || !plant(folder, kept)) {
        std::fprintf(stderr, "usage: bench_pushbox --sink http_sink.py [--kept N] [--seconds S]"
                             " (and a writable temporary folder)\n");
        return 2;
    }

    QProcess sink;
    sink.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sink.start(QStringLiteral("/usr/bin/python3"),
               {script, QStringLiteral("--dir"), sinkDir.path(), QStringLiteral("--mode"),
                QStringLiteral("unavailable")});
    QByteArray line;
    while (!line.startsWith("listening") && sink.waitForReadyRead(10000))
        line = sink.readLine().trimmed();
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3) {
        std::fprintf(stderr, "the HTTP sink did not start\n");
        return 1;
    }

    PushChannels push(folder);
    push.setUrl(PushChannels::Ntfy,
                QStringLiteral("http://127.0.0.1:%1/alerts").arg(QString::fromLatin1(words[2])));
    QObject::connect(&sink, &QProcess::readyReadStandardOutput, &sink,
                     [&] { sink.readAllStandardOutput(); });
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    push.setRetry(true);
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    push.abort();
    sink.terminate();
    sink.waitForFinished(5000);

    const int requests =
        int(QDir(sinkDir.path()).entryList({QStringLiteral("request-*.head")}).size());
    std::printf("kept %d\n", kept);
    std::printf("wall_seconds %.2f\n", wallSeconds);
    std::printf("cpu_seconds %.3f\n", cpu);
    std::printf("cpu_share_percent %.2f\n", 100.0 * cpu / wallSeconds);
    std::printf("requests %d\n", requests);
    return 0;
}
