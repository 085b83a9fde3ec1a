#pragma once

#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <functional>
#include <memory>

class QEventLoop;
class Shell;
class TFormZARVIK_Mail;
class TToolSettingDlg;

// The program's real windows in this process, wired for timing: a silent board on 127.0.0.1
// that takes the polls, a local socket that sends replies, and probes that run after each decoded
// reply and around each idle pass.
class Rig : public QObject {
public:
    // `extraIni`: settings lines (LF-separated) written after the board's section; `prepare`
    // runs with the settings file's path before the program starts (to lay files beside it).
    explicit Rig(const QString& extraIni,
                 const std::function<void(const QString& iniPath)>& prepare = {});
    ~Rig() override;

    Shell* shell() const { return m_shell.get(); }
    TFormZARVIK_Mail* form() const;
    TToolSettingDlg* dialog() const;
    quint16 programPort() const;

    // One correct 8-byte reply to the program's UDP port.
    void sendReply(quint16 raw, quint8 bits = 0);

    // Runs a real event loop (idle passes run in it) until `done` holds or timeoutMs passes.
    // `done` is checked after each decoded reply and each idle pass.
    bool waitUntil(std::function<bool()> done, int timeoutMs);
    void runFor(int ms)
    {
        waitUntil([] { return false; }, ms);
    }

    // After every decoded reply, the program's own handling included.
    std::function<void()> afterReply;
    // At the waiting loop's level only, i.e. not inside a mail's local loop, where no pass runs:
    // just before the idle pass may run, and right after it.
    std::function<void()> beforePass;
    std::function<void()> afterPass;

    // CLOCK_MONOTONIC, the clock the driver script and the SMTP sink stamp with too.
    static qint64 nowNs();

private:
    bool atWaitLevel() const;
    void check();
    void failOnModal();

    QTemporaryDir m_dir;
    QUdpSocket m_board;
    QUdpSocket m_sender;
    std::unique_ptr<Shell> m_shell;
    QTimer m_modalWatch;
    QEventLoop* m_loop = nullptr;
    std::function<bool()> m_done;
    int m_waitLevel = -1;
};
