#include "sim_board.h"

#include <QNetworkDatagram>
#include <QStringList>
#include <cmath>

BoardSimulator::BoardSimulator(bool verbose, QObject* parent)
    : QObject(parent)
    , m_verbose(verbose)
{
    m_clock.start();
    connect(&m_socket, &QUdpSocket::readyRead, this, &BoardSimulator::readDatagrams);
}

bool BoardSimulator::bind(const QHostAddress& address, quint16 port, QString* error)
{
    // Sharing would let two simulators split one port's traffic between them.
    if (m_socket.bind(address, port, QAbstractSocket::DontShareAddress))
        return true;
    *error = m_socket.errorString();
    return false;
}

quint16 BoardSimulator::rawFromCelsius(double celsius)
{
    const double raw = std::round(celsius * 1024.0 / 500.0);
    if (!(raw > 0.0))
        return 0;
    return raw >= 65535.0 ? 65535 : static_cast<quint16>(raw);
}

QByteArray BoardSimulator::reply(int size) const
{
    QByteArray bytes(NormalReplySize, '\0');
    bytes[1] = static_cast<char>(m_bits);
    bytes[4] = static_cast<char>(m_raw >> 8);
    bytes[5] = static_cast<char>(m_raw & 0xff);
    bytes.resize(size, '\0');
    return bytes;
}

bool BoardSimulator::push(int size, QString* error)
{
    if (m_lastSender.isNull()) {
        *error = QStringLiteral("no requester yet");
        return false;
    }
    return send(reply(size), m_lastSender, m_lastSenderPort, error);
}

bool BoardSimulator::pushTo(const QHostAddress& address, quint16 port, int size, QString* error)
{
    // Unsolicited datagrams only ever go to this machine.
    if (!address.isLoopback()) {
        *error = QStringLiteral("not a loopback address: %1").arg(address.toString());
        return false;
    }
    return send(reply(size), address, port, error);
}

QString BoardSimulator::hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString BoardSimulator::endpoint(const QHostAddress& address, quint16 port)
{
    // A dual-stack socket sees IPv4 peers as ::ffff:a.b.c.d; print them as plain IPv4.
    const bool mapped = address.toString().startsWith(u"::ffff:", Qt::CaseInsensitive) &&
                        address.toString().contains(u'.');
    const QString host =
        mapped ? QHostAddress(address.toIPv4Address()).toString() : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

void BoardSimulator::readDatagrams()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        if (!datagram.isValid())
            break;
        const QByteArray bytes = datagram.data();
        const QHostAddress sender = datagram.senderAddress();
        const quint16 senderPort = static_cast<quint16>(datagram.senderPort());
        emit output(QStringLiteral("request %1 from %2 at %3")
                        .arg(hex(bytes), endpoint(sender, senderPort))
                        .arg(m_clock.elapsed()));
        m_lastSender = sender;
        m_lastSenderPort = senderPort;
        if (m_silent || !isBoardRequest(bytes))
            continue;
        QString error;
        if (!send(reply(m_replySize), sender, senderPort, &error))
            emit warning(
                QStringLiteral("reply to %1 failed: %2").arg(endpoint(sender, senderPort), error));
    }
}

bool BoardSimulator::isBoardRequest(const QByteArray& bytes) const
{
    const bool adc = bytes.size() == 3 && bytes[0] == '\x04' && bytes[2] == '\x01';
    const bool status = bytes.size() == 1 && bytes[0] == '\0';
    return adc || status;
}

bool BoardSimulator::send(const QByteArray& bytes, const QHostAddress& address, quint16 port,
                          QString* error)
{
    if (m_socket.writeDatagram(bytes, address, port) != bytes.size()) {
        *error = m_socket.errorString();
        return false;
    }
    if (m_verbose)
        emit output(QStringLiteral("reply %1 to %2").arg(hex(bytes), endpoint(address, port)));
    return true;
}
