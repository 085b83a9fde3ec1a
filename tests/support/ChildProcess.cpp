#include "support/ChildProcess.h"

#include "support/TestPaths.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <csignal>
#include <sys/prctl.h>

void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

quint16 startListeningPeer(QProcess& process, const QString& script, const QStringList& arguments,
                           int timeoutMs, QString* error)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dieWithParent(process);
    process.start(TestPaths::python(),
                  QStringList{TestPaths::toolsDir() + u'/' + script} + arguments);
    QByteArray output;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))) &&
            process.state() != QProcess::Running)
            break;
        output += process.readAllStandardOutput();
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> words = line.trimmed().split(' ');
            if (words.size() == 3 && words[0] == "listening")
                return quint16(words[2].toUInt());
        }
    }
    *error = QStringLiteral("%1 did not start listening (%2): %3")
                 .arg(script, process.errorString(), QString::fromUtf8(output));
    return 0;
}
