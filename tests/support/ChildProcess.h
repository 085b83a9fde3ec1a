#pragma once

#include <QString>
#include <QStringList>

class QProcess;

// Makes a test peer die with the test: a crashed or killed test leaves no stray peer behind.
void dieWithParent(QProcess& process);

// Asks the process to end, and kills it if it has not within a few seconds.
void stopProcess(QProcess& process);

// Starts a peer script of tools/ under the test's python with `arguments`, its errors forwarded,
// and waits (bounded) for its "listening <host> <port>" line. The port, or 0 with `error` set.
quint16 startListeningPeer(QProcess& process, const QString& script, const QStringList& arguments,
                           int timeoutMs, QString* error);
