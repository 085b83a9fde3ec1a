#pragma once

#include <QString>
#include <QStringList>

class QProcess;

// Runs the real executable (ZARVIK_EXE) from outside, as end-to-end tests do.
namespace RealProgram {

// Enters a network namespace of this process's own. Call first thing in main(), before any
// thread or child exists, so that it holds for every process the test starts. Returns why not,
// or an empty string.
QString enterPrivateNetwork();

// Gives this process a mount namespace of its own, whose mounts never reach the system's: a test
// may then mount a folder read-only, which permission bits cannot make it for root. Call before
// any thread exists, as enterPrivateNetwork. Returns why not, or an empty string.
QString enterPrivateMounts();

// Brings loopback up in that namespace, adding `addresses` to it (e.g. "192.168.1.200/32"),
// and checks that no other interface is up. Returns why not, or an empty string.
QString setUpLoopback(const QStringList& addresses = {});

// Copies the executable into `folder`, so that its settings file is the ".ini" beside the
// copy. Returns the copy's path, or an empty string.
QString copyInto(const QString& folder);

// Starts `program` in its own folder on the X display given, or offscreen when there is none.
// The process dies with the test. True once it has started.
bool start(QProcess& process, const QString& program, const QString& display = {},
           const QStringList& arguments = {});

} // namespace RealProgram
