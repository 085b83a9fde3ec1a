#include "device/BoardSource.h"

#include "core/Clock.h"
#include "device/BoardProtocol.h"
#include "device/UdpEndpoint.h"

#include <QTimer>

namespace {

// The board is asked every 2000 ms. The tests of the real program may ask it more often
// (ZARVIK_POLL_MS, 50 to 2000), so that what they wait for comes sooner; nobody else sets it.
int pollPeriodMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("ZARVIK_POLL_MS", &ok);
    return ok && ms >= 50 && ms <= 2000 ? ms : 2000;
}

} // namespace

BoardSource::BoardSource(const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
{
    NMUDP1 = new UdpEndpoint(this);
    NMUDP1->setObjectName(QStringLiteral("NMUDP1"));
    connect(NMUDP1, &UdpEndpoint::dataReceived, this, &BoardSource::NMUDP1DataReceived);
    connect(NMUDP1, &UdpEndpoint::problem, this, [this](const QString& why) {
        m_linkProblem = why;
        emit linkProblem(why);
    });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(pollPeriodMs());
    connect(Timer1, &QTimer::timeout, this, &BoardSource::Timer1Timer);
    m_lastReplyMs = m_clock.steadyMs();
}

void BoardSource::setBoard(const QString& address, const QString& port)
{
    m_address = address;
    m_port = port;
}

void BoardSource::start()
{
    m_lastReplyMs = m_clock.steadyMs();
    GetTemp();
    Timer1->start();
}

void BoardSource::stop()
{
    Timer1->stop();
}

void BoardSource::GetTemp()
{
    AdcSelector = BoardProtocol::TemperatureChannel;
    GetADC();
}

void BoardSource::GetADC()
{
    NMUDP1->setRemote(m_address, m_port);
    NMUDP1->sendBuffer(BoardProtocol::adcRequest(AdcSelector));
}

void BoardSource::GetStatus()
{
    NMUDP1->setRemote(m_address, m_port);
    NMUDP1->sendBuffer(BoardProtocol::statusRequest());
}

qint64 BoardSource::msSinceLastReply() const
{
    return m_clock.steadyMs() - m_lastReplyMs;
}

quint16 BoardSource::localPort() const
{
    return NMUDP1->localPort();
}

void BoardSource::Timer1Timer()
{
    GetTemp();
    emit polled();
}

void BoardSource::NMUDP1DataReceived(const QByteArray& data, const QHostAddress&, quint16)
{
    if (data.size() != BoardProtocol::ReplySize) {
        emit wrongSizeReceived(data);
        return;
    }
    m_lastReplyMs = m_clock.steadyMs();
    Reading reading = BoardProtocol::decodeReply(data);
    reading.timeMs = m_clock.nowMs();
    emit replyReceived(reading);
}
