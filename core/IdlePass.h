#pragma once

#include <QObject>
#include <functional>

// Runs a handler once each time the event loop is about to wait for more events, that is after
// each burst of events, also inside modal dialogs and open menus. Passes never overlap, and none
// runs while a Suspension exists (the program's own message boxes hold one).
class IdlePass : public QObject {
    Q_OBJECT
public:
    explicit IdlePass(std::function<void()> handler, QObject* parent = nullptr);
    ~IdlePass() override;

    class Suspension {
    public:
        Suspension();
        ~Suspension();
        Suspension(const Suspension&) = delete;
        Suspension& operator=(const Suspension&) = delete;
    };

    // How many passes have run; for tests and benchmarks.
    quint64 passCount() const { return m_passCount; }

protected:
    bool event(QEvent* event) override;

private:
    void run();

    std::function<void()> m_handler;
    bool m_running = false;
    quint64 m_passCount = 0;
};
