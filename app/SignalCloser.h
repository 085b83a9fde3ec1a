#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

// Closes a window the normal way on SIGTERM, SIGINT or SIGHUP, so that what closing does
// (saving the settings) also happens on a logout or a kill.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(QWidget* window);
    ~SignalCloser() override;

private:
    void onSignal();

    QWidget* m_window;
    QSocketNotifier* m_notifier = nullptr;
};
