#include "sim_console.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

ConsoleReader::ConsoleReader(QObject* parent)
    : QObject(parent)
{
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1)
        return;
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConsoleReader::readAvailable);
}

void ConsoleReader::readAvailable()
{
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        m_notifier->setEnabled(false);
        emitLines(true);
        return;
    }
    m_buffer.append(chunk, count);
    emitLines(false);
}

void ConsoleReader::emitLines(bool atEnd)
{
    qsizetype newline = 0;
    while ((newline = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.left(newline);
        m_buffer.remove(0, newline + 1);
        emit lineRead(QString::fromUtf8(line).trimmed());
    }
    if (atEnd && !m_buffer.isEmpty())
        emit lineRead(QString::fromUtf8(std::exchange(m_buffer, {})).trimmed());
}

void printLine(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

void printError(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stderr);
    std::fflush(stderr);
}
