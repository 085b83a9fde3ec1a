#include "support/SimBoard.h"

#include "support/ChildProcess.h"
#include "support/TestPaths.h"

#include <QDebug>
#include <QEventLoop>
#include <QTimer>

SimBoard::SimBoard(QObject* parent)
    : QObject(parent)
{
    m_process.setProgram(TestPaths::simulator());
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &SimBoard::readOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this, &SimBoard::readErrors);
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            qWarning() << "SimBoard: the simulator ended, exit code" << code << status;
    });
}

SimBoard::~SimBoard()
{
    m_process.disconnect(this);
    stopProcess(m_process);
}

bool SimBoard::start(const QHostAddress& bind, quint16 port, const QStringList& extraArguments,
                     int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning) {
        qWarning() << "SimBoard: already running";
        return false;
    }
    m_port = 0;
    m_process.setArguments(QStringList{QStringLiteral("--bind"), bind.toString(),
                                       QStringLiteral("--port"), QString::number(port)} +
                           extraArguments);
    dieWithParent(m_process);
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs)) {
        qWarning() << "SimBoard: cannot start" << m_process.program() << m_process.errorString();
        return false;
    }
    if (!waitUntil([this] { return m_port != 0; }, timeoutMs)) {
        qWarning() << "SimBoard: the simulator did not report a listening port";
        return false;
    }
    return true;
}

bool SimBoard::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

bool SimBoard::command(const QString& line, int timeoutMs)
{
    if (!isRunning() || line.trimmed().isEmpty() || line.contains(u'\n'))
        return false;
    m_process.write(line.toUtf8() + '\n');
    // Answers come back in order, so a late answer to a timed-out command is not taken for ours.
    const qint64 ticket = ++m_commandsSent;
    if (!waitUntil([this, ticket] { return m_answersSeen >= ticket; }, timeoutMs)) {
        qWarning() << "SimBoard: no answer to" << line;
        return false;
    }
    return m_lastAnswer == u"ok";
}

bool SimBoard::setTemperature(double celsius)
{
    return command(QStringLiteral("temp ") + QString::number(celsius, 'g', 17));
}

bool SimBoard::setRaw(int raw)
{
    return command(QStringLiteral("raw %1").arg(raw));
}
bool SimBoard::setBits(int bits)
{
    return command(QStringLiteral("bits %1").arg(bits));
}
bool SimBoard::setReplySize(int size)
{
    return command(QStringLiteral("size %1").arg(size));
}

bool SimBoard::setSilent(bool silent)
{
    return command(silent ? QStringLiteral("silent on") : QStringLiteral("silent off"));
}

bool SimBoard::push(int size)
{
    return command(QStringLiteral("push %1").arg(size));
}

bool SimBoard::pushTo(const QHostAddress& address, quint16 port, int size)
{
    return command(QStringLiteral("pushto %1 %2 %3").arg(address.toString()).arg(port).arg(size));
}

bool SimBoard::waitForRequests(int count, int timeoutMs)
{
    return waitUntil([this, count] { return m_requests.size() >= count; }, timeoutMs);
}

void SimBoard::readOutput()
{
    m_stdoutBuffer += m_process.readAllStandardOutput();
    qsizetype newline = 0;
    while ((newline = m_stdoutBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_stdoutBuffer.left(newline)).trimmed();
        m_stdoutBuffer.remove(0, newline + 1);
        parseLine(line);
    }
}

void SimBoard::readErrors()
{
    m_stderrBuffer += m_process.readAllStandardError();
    qsizetype newline = 0;
    while ((newline = m_stderrBuffer.indexOf('\n')) >= 0) {
        qWarning().noquote() << "zarvik-sim:" << QString::fromUtf8(m_stderrBuffer.left(newline));
        m_stderrBuffer.remove(0, newline + 1);
    }
}

void SimBoard::parseLine(const QString& line)
{
    if (line == u"ok" || line.startsWith(u"error")) {
        ++m_answersSeen;
        m_lastAnswer = line;
    } else if (line.startsWith(u"listening ")) {
        splitEndpoint(line.mid(10), &m_address, &m_port);
    } else if (line.startsWith(u"request ")) {
        // request <HEX> from <address>:<port> at <ms>; the hex part is empty for an empty datagram
        const qsizetype from = line.lastIndexOf(u" from ");
        const qsizetype at = line.lastIndexOf(u" at ");
        Request request;
        bool msOk = false;
        if (from < 0 || at < from)
            return;
        request.bytes = QByteArray::fromHex(line.mid(8, from - 8).toLatin1());
        request.ms = line.mid(at + 4).toLongLong(&msOk);
        if (!msOk ||
            !splitEndpoint(line.mid(from + 6, at - from - 6), &request.address, &request.port)) {
            qWarning() << "SimBoard: cannot parse" << line;
            return;
        }
        m_requests.append(request);
        emit requestSeen(request);
    }
}

bool SimBoard::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::readyReadStandardOutput, &loop, [&] {
        // readOutput() ran first (connected earlier), so the new lines are already parsed.
        if (done())
            loop.quit();
    });
    timeout.start(timeoutMs);
    if (isRunning())
        loop.exec();
    return done();
}

bool SimBoard::splitEndpoint(const QString& text, QHostAddress* address, quint16* port)
{
    // The port follows the last colon, which also works for IPv6 addresses.
    const qsizetype colon = text.lastIndexOf(u':');
    bool ok = false;
    const uint number = colon > 0 ? text.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || number > 65535 || !address->setAddress(text.left(colon)))
        return false;
    *port = static_cast<quint16>(number);
    return true;
}
