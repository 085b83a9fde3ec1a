#pragma once

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

class QSocketNotifier;

// What systemd listens on for sd_notify(): a datagram socket in a folder of its own. Each
// datagram's lines ("READY=1", "STATUS=…") are kept in order of arrival.
class NotifySocket : public QObject {
    Q_OBJECT
public:
    NotifySocket();
    ~NotifySocket() override;

    bool isListening() const { return m_fd >= 0; }
    // For NOTIFY_SOCKET.
    QString path() const { return m_path; }
    QStringList messages() const { return m_messages; }
    // True once a message equal to `message` (or starting with it, when it ends in '=') came
    // after the first `from` messages; it is then at messages().indexOf(..., from).
    bool waitFor(const QString& message, int from = 0, int timeoutMs = 10000);
    int indexOf(const QString& message, int from = 0) const;

private:
    void read();

    QTemporaryDir m_dir;
    QString m_path;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QStringList m_messages;
};
