#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

// The simulated sensor board: answers ADC and status requests with an 8-byte reply that carries
// the input bits and the raw ADC value, and can be told to misbehave (wrong size, silence).
class BoardSimulator : public QObject {
    Q_OBJECT

public:
    static constexpr int NormalReplySize = 8;
    static constexpr int MaxDatagramSize = 65507;

    explicit BoardSimulator(bool verbose, QObject* parent = nullptr);

    bool bind(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const { return m_socket.localAddress(); }
    quint16 port() const { return m_socket.localPort(); }

    static quint16 rawFromCelsius(double celsius);
    void setRaw(quint16 raw) { m_raw = raw; }
    quint8 bits() const { return m_bits; }
    void setBits(quint8 bits) { m_bits = bits; }
    void setReplySize(int size) { m_replySize = size; }
    void setSilent(bool silent) { m_silent = silent; }

    // The normal reply padded with zeros or truncated to size bytes.
    QByteArray reply(int size) const;

    bool push(int size, QString* error);
    bool pushTo(const QHostAddress& address, quint16 port, int size, QString* error);

    static QString hex(const QByteArray& bytes);
    static QString endpoint(const QHostAddress& address, quint16 port);

signals:
    void output(const QString& line);
    void warning(const QString& line);

private:
    void readDatagrams();
    bool isBoardRequest(const QByteArray& bytes) const;
    bool send(const QByteArray& bytes, const QHostAddress& address, quint16 port, QString* error);

    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    bool m_verbose = false;
    quint16 m_raw = 0;
    quint8 m_bits = 0;
    int m_replySize = NormalReplySize;
    bool m_silent = false;
    QHostAddress m_lastSender;
    quint16 m_lastSenderPort = 0;
};
