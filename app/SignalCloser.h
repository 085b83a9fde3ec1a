#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Closes the program the normal way on SIGTERM, SIGINT or SIGHUP, so that what closing does
// (saving the settings) also happens on a logout or a kill. `closeWindow` closes the main
// window; the program ends once closing is over.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(std::function<void()> closeWindow);
    ~SignalCloser() override;

private:
    void onSignal();

    std::function<void()> m_closeWindow;
    QSocketNotifier* m_notifier = nullptr;
};
