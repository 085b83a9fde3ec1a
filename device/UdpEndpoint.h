#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>

class QUdpSocket;

// The address a looked-up host name is used at: its first IPv4 address, else its first one
// (null when it has none). "localhost" thus means 127.0.0.1 wherever ::1 is listed first.
QHostAddress preferredAddress(const QList<QHostAddress>& addresses);

// The program's UDP endpoint: bound to a port the system picks, it sends datagrams to one remote
// host and port and hands every datagram that arrives, from anyone, to dataReceived().
//
// Arrivals are queued and handed over from a posted call rather than from the socket's own
// signal, so a handler that opens a modal box does not stop further datagrams from being read
// and handed over meanwhile.
class UdpEndpoint : public QObject {
    Q_OBJECT
public:
    explicit UdpEndpoint(QObject* parent = nullptr);

    // Sets the remote host (an address or a host name, resolved without blocking) and port, as
    // texts typed by the user. Unusable values are reported once per change through problem().
    void setRemote(const QString& host, const QString& port);
    // Sends one datagram to the remote host and port; returns at once.
    void sendBuffer(const QByteArray& data);
    quint16 localPort() const;

signals:
    void dataReceived(const QByteArray& data, const QHostAddress& from, quint16 port);
    // The remote host or port cannot be used, in a line for the user.
    void problem(const QString& why);

public:
    // Datagrams waiting to be handed over beyond this are dropped, as a full socket buffer would.
    static constexpr int MaxQueued = 4096;

private:
    void readPending();
    void dispatch();
    void resolve();
    void report(const QString& why);
    void sendNow(const QByteArray& data);

    struct Datagram {
        QByteArray data;
        QHostAddress from;
        quint16 port;
    };

    QUdpSocket* m_socket;
    QQueue<Datagram> m_queue;
    bool m_dispatchPosted = false;

    QString m_hostText;
    QString m_portText;
    QHostAddress m_address; // null until the host text resolves
    quint16 m_port = 0;
    bool m_lookupPending = false;
    int m_lookupId = -1;
    QByteArray m_waitingForLookup; // the latest request sent while the name was resolving
    QString m_lastProblem;
};
