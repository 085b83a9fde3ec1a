#include "device/UdpEndpoint.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <utility>

UdpEndpoint::UdpEndpoint(QObject* parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
{
    // The board is on the local network, never behind a proxy (mail goes without one too); not
    // asking the system's proxy settings also spares a thread and the proxy library's set-up.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    if (!m_socket->bind(QHostAddress::Any, 0))
        report(tr("Cannot open a UDP port: %1").arg(m_socket->errorString()));
    connect(m_socket, &QUdpSocket::readyRead, this, &UdpEndpoint::readPending);
}

quint16 UdpEndpoint::localPort() const
{
    return m_socket->localPort();
}

void UdpEndpoint::readPending()
{
    while (m_socket->hasPendingDatagrams()) {
        QNetworkDatagram datagram = m_socket->receiveDatagram();
        if (m_queue.size() < MaxQueued)
            m_queue.enqueue(
                {datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort())});
    }
    if (!m_queue.isEmpty() && !m_dispatchPosted) {
        m_dispatchPosted = true;
        QMetaObject::invokeMethod(this, &UdpEndpoint::dispatch, Qt::QueuedConnection);
    }
}

void UdpEndpoint::dispatch()
{
    m_dispatchPosted = false;
    // A handler may run a nested event loop; a nested dispatch then takes the following
    // datagrams from the same queue, so each is handed over exactly once, in order.
    while (!m_queue.isEmpty()) {
        const Datagram datagram = m_queue.dequeue();
        emit dataReceived(datagram.data, datagram.from, datagram.port);
    }
}

void UdpEndpoint::setRemote(const QString& host, const QString& port)
{
    if (host == m_hostText && port == m_portText)
        return;
    m_hostText = host;
    m_portText = port;
    m_lastProblem.clear();

    bool ok = false;
    const uint portNumber = port.trimmed().toUInt(&ok);
    m_port = (ok && portNumber >= 1 && portNumber <= 65535) ? quint16(portNumber) : 0;
    resolve();
}

void UdpEndpoint::resolve()
{
    m_address.clear();
    m_waitingForLookup.clear();
    if (m_lookupPending) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupPending = false;
    }
    const QString host = m_hostText.trimmed();
    if (host.isEmpty() || m_address.setAddress(host))
        return;
    m_lookupPending = true;
    m_lookupId = QHostInfo::lookupHost(host, this, [this, host](const QHostInfo& info) {
        if (host != m_hostText.trimmed())
            return;
        m_lookupPending = false;
        m_address = preferredAddress(info.addresses());
        if (m_address.isNull()) {
            report(tr("Board address \"%1\" cannot be resolved: %2 - nothing sent")
                       .arg(host, info.errorString()));
            return;
        }
        if (!m_waitingForLookup.isEmpty())
            sendNow(std::exchange(m_waitingForLookup, {}));
    });
}

void UdpEndpoint::sendBuffer(const QByteArray& data)
{
    if (m_hostText.trimmed().isEmpty()) {
        report(tr("No board address is set - nothing sent"));
        return;
    }
    if (m_port == 0) {
        report(
            tr("Board port \"%1\" is not a number from 1 to 65535 - nothing sent").arg(m_portText));
        return;
    }
    if (m_lookupPending) {
        m_waitingForLookup = data;
        return;
    }
    if (m_address.isNull()) {
        // The name did not resolve last time; try again, it may have come up since.
        resolve();
        if (m_lookupPending)
            m_waitingForLookup = data;
        return;
    }
    sendNow(data);
}

void UdpEndpoint::sendNow(const QByteArray& data)
{
    if (m_socket->writeDatagram(data, m_address, m_port) < 0)
        report(tr("Cannot send to the board at %1 port %2: %3")
                   .arg(m_address.toString())
                   .arg(m_port)
                   .arg(m_socket->errorString()));
    else
        m_lastProblem.clear();
}

void UdpEndpoint::report(const QString& why)
{
    if (why == m_lastProblem)
        return;
    m_lastProblem = why;
    emit problem(why);
}

QHostAddress preferredAddress(const QList<QHostAddress>& addresses)
{
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return addresses.value(0);
}
