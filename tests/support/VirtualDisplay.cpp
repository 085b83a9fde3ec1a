#include "support/VirtualDisplay.h"

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QStandardPaths>

namespace {
QString xvfb()
{
    return QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
}
} // namespace

VirtualDisplay::~VirtualDisplay()
{
    stop();
}

bool VirtualDisplay::available()
{
    return !xvfb().isEmpty();
}

bool VirtualDisplay::start(int timeoutMs)
{
    m_display.clear();
    // Xvfb reports on stderr at each client's connection; a pipe nobody reads would fill and
    // stall it, so that goes to a file.
    const QString log = m_logDir.filePath(QStringLiteral("xvfb.log"));
    m_process.setStandardErrorFile(log);
    // The server goes with the test process, even when that crashes.
    dieWithParent(m_process);
    // -displayfd picks a free display number and writes it to our stdout once it takes clients.
    m_process.start(xvfb(),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp")});
    QByteArray output;
    const QDeadlineTimer deadline(timeoutMs);
    while (!output.contains('\n') && !deadline.hasExpired() &&
           m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        output += m_process.readAllStandardOutput();
    }
    bool ok = false;
    const int number = output.trimmed().toInt(&ok);
    if (ok) {
        m_display = QStringLiteral(":%1").arg(number);
        return true;
    }
    m_error =
        QStringLiteral("Xvfb did not start: %1 %2")
            .arg(m_process.errorString(), QString::fromLocal8Bit(TestFiles::read(log).right(2000)));
    stop();
    return false;
}

void VirtualDisplay::stop()
{
    stopProcess(m_process);
}
