#pragma once

#include "support/EventWait.h"

#include <QProcess>
#include <QString>
#include <QtTest>
#include <csignal>

// A running zarvik-maild and what it said on standard error, printed when the test failed.
struct ServiceProcess {
    QProcess process;
    QString log;

    ~ServiceProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
        readLog();
        if (QTest::currentTestFailed())
            qInfo().noquote() << "zarvik-maild said:\n" << log;
    }

    void readLog() { log += QString::fromUtf8(process.readAllStandardError()); }
    // Waits until `text` was said `times` times in all.
    bool saw(const QString& text, int times = 1)
    {
        return EventWait::until([&] {
            readLog();
            return log.count(text) >= times;
        });
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Exit status once it ended by itself or by `number`; -1 when it did not end normally.
    int endBy(int number)
    {
        if (number)
            signal(number);
        const bool ended = process.waitForFinished(10000);
        readLog();
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};
