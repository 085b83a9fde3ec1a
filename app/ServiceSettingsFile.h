#pragma once

#include "settings/Settings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// The settings file as the service takes it. Nothing at the path is ever waited on (a FIFO or a
// device is refused unopened), and the service never runs on a file that does not name the board
// (empty, or cut short before it) nor takes one that lost a section of the file in force, or the
// board's or the mail's address: an editor writing in place at the moment of a reload leaves
// such a file for a while.
namespace ServiceSettingsFile {

// Reads `path` into `into` when it may be taken. `inForce` lists the keys of the file in force
// (empty at start); `keys` then gets this file's. False with the reason otherwise, and `into`
// is left as it was.
bool read(const QString& path, const QList<Settings::Key>& inForce, Settings* into,
          QList<Settings::Key>* keys, QString* error);

} // namespace ServiceSettingsFile

// Calls back once a file has stopped changing: the same size, times and inode over a few looks
// in a row, or after a while however it goes, so that a file written ever anew is still read.
class SettledFile : public QObject {
    Q_OBJECT
public:
    explicit SettledFile(QObject* parent = nullptr);

    // A wait under way goes on; `then` is the latest one asked for.
    void wait(const QString& path, std::function<void()> then);
    bool isWaiting() const { return m_timer.isActive(); }
    void cancel() { m_timer.stop(); }

private:
    void look();

    QString m_path;
    std::function<void()> m_then;
    QByteArray m_last;
    int m_same = 0;
    int m_looks = 0;
    QTimer m_timer;
};
