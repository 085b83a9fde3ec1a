#pragma once

#include "monitor/Monitor.h"
#include "settings/Settings.h"
#include "support/EngineParts.h"
#include "support/EventWait.h"
#include "support/SettingsFile.h"
#include "support/SimBoard.h"
#include "support/TestClock.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

// The window-less counterpart of WindowFixture: a folder for the settings file, a simulated board
// on loopback and, once startEngine() runs, the engine on a clock the test moves. What the engine
// shows and reports is recorded from its signals.
class EngineFixture {
protected:
    // Faster than the program's own, so that waits for more readings stay short.
    static constexpr int PollMs = 20;

    bool setUpEngine()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_sim = std::make_unique<SimBoard>();
        return m_dir->isValid() && m_sim->start();
    }

    void tearDownEngine()
    {
        stopEngine();
        m_sim.reset();
        m_dir.reset();
    }

    // A settings file naming the simulated board, plus any extra INI lines.
    QString settingsFile(const QString& extraLines = {}) const
    {
        return writeSettingsFile(m_dir->path(), m_sim->port(), extraLines);
    }

    // Loads the file and starts the engine on it, without the keyring. No pass has run when it
    // returns, so the test can still change settings before the rules first look at them.
    bool startEngine(const QString& settingsPath, int pollMs = PollMs)
    {
        stopEngine();
        m_settings = std::make_unique<Settings>();
        if (!m_settings->load(settingsPath))
            return false;
        m_monitor = std::make_unique<Monitor>(*m_settings, settingsPath, m_clock);
        m_problems = std::make_unique<QSignalSpy>(m_monitor.get(), &Monitor::problem);
        m_shown = std::make_unique<QSignalSpy>(m_monitor.get(), &Monitor::messageShown);
        if (!EngineParts::setPollPeriod(*m_monitor, pollMs))
            return false;
        m_monitor->start(Monitor::Keyring::DoNotAsk);
        return true;
    }

    void stopEngine()
    {
        m_problems.reset();
        m_shown.reset();
        m_monitor.reset();
        m_settings.reset();
    }

    // Waits until `count` more polls were answered: the board saw count + 1 requests from now,
    // so the reply to the count-th was in, and its pass over, before the last one went out.
    bool waitForPolls(int count, int timeoutMs = 10000)
    {
        m_sim->clearRequests();
        return m_sim->waitForRequests(count + 1, timeoutMs);
    }

    // The problems told so far (what a window would show in boxes).
    QStringList problems() const
    {
        QStringList texts;
        for (const QList<QVariant>& args : *m_problems)
            texts << args.at(0).toString();
        return texts;
    }

    // The message a window would show now: the last one the engine showed.
    QString shownMessage() const
    {
        return m_shown->isEmpty() ? QString() : m_shown->last().at(0).toString();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimBoard> m_sim;
    TestClock m_clock;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Monitor> m_monitor;
    std::unique_ptr<QSignalSpy> m_problems;
    std::unique_ptr<QSignalSpy> m_shown;
};
