#pragma once

#include <QObject>
#include <QTimer>

class Clock;

// A single-shot wait on a Clock's steady time: a real wait on the machine's clock, and over at
// once when a test moves its clock past the deadline.
class ClockTimer : public QObject {
    Q_OBJECT
public:
    explicit ClockTimer(const Clock& clock, QObject* parent = nullptr);
    ~ClockTimer() override;

    // Fires timeout() once the steady clock reads `steadyMs` or later; replaces a wait under way.
    void startAt(qint64 steadyMs);
    void start(qint64 ms);
    void stop();
    bool isActive() const { return m_active; }
    qint64 deadline() const { return m_atMs; }

signals:
    void timeout();

private:
    friend class Clock;
    void check();
    void clockMoved();

    const Clock& m_clock;
    QTimer m_timer;
    qint64 m_atMs = 0;
    bool m_active = false;
};
