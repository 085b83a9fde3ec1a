#include "support/HttpSink.h"

#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/TestPaths.h"

#include <QDeadlineTimer>
#include <QFile>

namespace {
constexpr int kSinkStartTimeoutMs = 15000;

QByteArray readSinkFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

HttpSink::HttpSink(const QString& mode, quint16 port, const QString& retryAfter)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return;
    }
    m_port = startListeningPeer(m_process, QStringLiteral("http_sink.py"),
                                {QStringLiteral("--dir"), m_dir.path(), QStringLiteral("--mode"),
                                 mode, QStringLiteral("--port"), QString::number(port),
                                 QStringLiteral("--retry-after"), retryAfter},
                                kSinkStartTimeoutMs, &m_error);
}

HttpSink::~HttpSink()
{
    stopProcess(m_process);
}

QString HttpSink::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

int HttpSink::requestCount() const
{
    int n = 0;
    while (QFile::exists(m_dir.filePath(QStringLiteral("request-%1.head").arg(n + 1))))
        ++n;
    return n;
}

bool HttpSink::waitForRequests(int count, int timeoutMs)
{
    // A real event loop: the program's idle passes go on meanwhile.
    return EventWait::until(
        [&] {
            m_process.readAllStandardOutput(); // keeps the pipe from filling up
            return requestCount() >= count;
        },
        timeoutMs);
}

QList<HttpSink::Request> HttpSink::requests() const
{
    QList<Request> result;
    for (int n = 1, count = requestCount(); n <= count; ++n) {
        const QString base = m_dir.filePath(QStringLiteral("request-%1").arg(n));
        QList<QByteArray> lines = readSinkFile(base + QStringLiteral(".head")).split('\n');
        Request request;
        const QList<QByteArray> first = lines.takeFirst().split(' ');
        request.method = QString::fromLatin1(first.value(0));
        request.path = QString::fromLatin1(first.value(1));
        for (const QByteArray& line : std::as_const(lines)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
        }
        request.body = readSinkFile(base + QStringLiteral(".body"));
        request.atNs = readSinkFile(base + QStringLiteral(".at")).trimmed().toLongLong();
        result.append(request);
    }
    return result;
}
