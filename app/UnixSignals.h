#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns Unix signals into a Qt signal on the main thread, so that what they ask for (closing and
// saving, re-reading the settings) runs as ordinary event handling. A burst of one kind comes out
// as one received() (at least one of each kind, never a blocked handler); once the object is
// gone, its signals are dropped, so a program that is ending ends as it chose. One object at a
// time.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(const QList<int>& signalNumbers, QObject* parent = nullptr);
    ~UnixSignals() override;

signals:
    void received(int signalNumber);

private:
    void onSignal();

    QList<int> m_signals;
    QSocketNotifier* m_notifier = nullptr;
};
