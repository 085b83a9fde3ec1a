#pragma once

#include "device/Reading.h"

#include <QObject>
#include <QString>

class Clock;
class QHostAddress;
class QTimer;
class UdpEndpoint;

// The board as a source of values: asks it for the temperature on Timer1 (every 2000 ms) through
// NMUDP1, and hands on each correct reply as a Reading and each datagram of the wrong size as an
// event.
class BoardSource : public QObject {
    Q_OBJECT
public:
    explicit BoardSource(const Clock& clock, QObject* parent = nullptr);

    // The board's address and port as typed; taken up by the next request, so that a name half
    // typed is never looked up.
    void setBoard(const QString& address, const QString& port);
    // Sends the first request now and polls from then on.
    void start();
    void stop();

    // The requests the board understands.
    void GetTemp();
    void GetADC();
    void GetStatus();

    // Since the last correct reply, or since start() before the first; on the steady clock.
    qint64 msSinceLastReply() const;
    // How long without a correct reply before the board counts as silent: the window's
    // "応答なし", the service's log line.
    static constexpr qint64 SilentAfterMs = 10000;
    quint16 localPort() const;
    // Why the address or port cannot be used, or empty.
    QString currentLinkProblem() const { return m_linkProblem; }
    const Clock& clock() const { return m_clock; }

    QTimer* Timer1;
    UdpEndpoint* NMUDP1;

signals:
    // A correct reply; readings() already include it.
    void replyReceived(const Reading& reading);
    // A datagram that is not a reply's size.
    void wrongSizeReceived(const QByteArray& data);
    // A request went out on Timer1.
    void polled();
    // The address or port cannot be used; an empty text when they can again.
    void linkProblem(const QString& why);

private:
    void Timer1Timer();
    void NMUDP1DataReceived(const QByteArray& data, const QHostAddress& from, quint16 port);

    const Clock& m_clock;
    QString m_address;
    QString m_port;
    QString m_linkProblem;
    quint8 AdcSelector = 0;   // second byte of the next ADC request
    qint64 m_lastReplyMs = 0; // on the steady clock
};
