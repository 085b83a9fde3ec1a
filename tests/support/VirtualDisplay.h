#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private X server (Xvfb) for one run of a program under test; stopped when the object goes.
// One server per run: Xvfb 21.1 was seen to leave a later client's connection unanswered after
// an earlier client went away.
class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    static bool available();
    // Starts Xvfb on a free display number and waits (bounded) until it takes clients.
    bool start(int timeoutMs = 15000);
    void stop();
    // ":N" once started, for DISPLAY.
    QString display() const { return m_display; }
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_logDir;
    QProcess m_process;
    QString m_display;
    QString m_error;
};
