#pragma once

#include "app/UnixSignals.h"
#include "device/BoardSource.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "monitor/Monitor.h"
#include "support/AppHarness.h"
#include "support/EngineParts.h"
#include "support/SimBoard.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <csignal>
#include <memory>

class TToolSettingDlg;

// What every real-window test starts from: a folder for the settings file, a simulated board on
// loopback, and the program's two windows once openShell() runs. Test classes inherit it and call
// setUpWindows() and tearDownWindows() from their init() and cleanup().
class WindowFixture {
protected:
    bool setUpWindows()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_sim = std::make_unique<SimBoard>();
        return m_dir->isValid() && m_sim->start();
    }

    // False when a window outlived the program's own (a leaked box or dialog).
    bool tearDownWindows()
    {
        m_signals.reset();
        m_shell.reset();
        m_form = nullptr;
        m_monitor = nullptr;
        m_dialog = nullptr;
        m_sim.reset();
        m_dir.reset();
        return !anyVisibleWindow();
    }

    // A settings file naming the simulated board, plus any extra INI lines.
    QString settingsFile(const QString& extraLines = {}) const
    {
        return AppHarness::writeSettings(*m_dir, m_sim->port(), extraLines);
    }

    // No idle pass has run when it returns. pollMs > 0 replaces the window's polling period, so
    // that tests waiting for readings need not wait for the program's own.
    void openShell(const QString& settingsPath, int pollMs = 0)
    {
        m_shell = std::make_unique<Shell>(settingsPath);
        m_monitor = m_shell->monitor();
        m_form = m_shell->FormZARVIK_Mail();
        // As the program's entry point wires them.
        m_signals = std::make_unique<UnixSignals>(QList<int>{SIGTERM, SIGINT, SIGHUP});
        QObject::connect(m_signals.get(), &UnixSignals::received, m_form,
                         &TFormZARVIK_Mail::closeBySignal);
        m_dialog = m_shell->ToolSettingDlg();
        if (pollMs > 0 && !EngineParts::setPollPeriod(*m_monitor, pollMs))
            qFatal("the engine has no polling timer to speed up");
        m_shell->show();
    }

    // Waits until `count` more polls were answered: the board saw count + 1 requests from now,
    // so the reply to the count-th was in, and its pass over, before the last one went out.
    bool waitForPolls(int count, int timeoutMs = 10000)
    {
        m_sim->clearRequests();
        return m_sim->waitForRequests(count + 1, timeoutMs);
    }

    static bool anyVisibleWindow()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.cbegin(), windows.cend(),
                           [](const QWidget* w) { return w->isVisible(); });
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimBoard> m_sim;
    std::unique_ptr<Shell> m_shell;
    std::unique_ptr<UnixSignals> m_signals;
    Monitor* m_monitor = nullptr;
    TFormZARVIK_Mail* m_form = nullptr;
    TToolSettingDlg* m_dialog = nullptr;
};
