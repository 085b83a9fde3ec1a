#pragma once

#include "settings/Settings.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <memory>

class Monitor;
class Outlet;
struct SettingsLocation;
class SettledFile;
class SystemdNotify;
class UnixSignals;
struct MailResult;
struct Reading;

// The watching without a window, as a daemon: the settings file is read (never written), every
// event goes to the log, systemd hears how it stands, and Unix signals stop it (SIGTERM,
// SIGINT), re-read the settings and the mute (SIGHUP), re-arm the rules (SIGUSR1) or acknowledge
// the fired ones (SIGUSR2).
class Service : public QObject {
    Q_OBJECT
public:
    // The CSV log and the outbox lie beside `where.statePath`.
    explicit Service(const SettingsLocation& where, QObject* parent = nullptr);
    ~Service() override;

    // Reads the settings and starts watching. False with the reason when the settings file
    // cannot be taken: the service never runs on defaults it was not given.
    bool start(QString* error);
    Monitor& monitor() const { return *m_monitor; }

signals:
    // Stopped by a signal; the process may end with `status`.
    void finished(int status);

private:
    // [Push] secrets from systemd's credentials, over what the file says, for the whole run.
    void takePushCredentials();
    void follow();
    void onSignal(int signalNumber);
    void reload();
    void rereadSettings();
    void stop();
    void logReply(const Reading& reading);
    void checkSilence();
    void logWrongSize();
    void logAlertMail(const MailResult& result);

    QString m_settingsPath;
    QString m_statePath;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Outlet> m_log; // outlives the monitor that tells it
    std::unique_ptr<Monitor> m_monitor;
    SystemdNotify* m_notify;
    UnixSignals* m_signals = nullptr;
    SettledFile* m_settled;
    QList<Settings::Key> m_keysInForce; // those the file in force holds
    QMap<Settings::Key, QString> m_pushSecrets;
    bool m_stopping = false;
    bool m_silent = false;        // no reply for BoardSource::SilentAfterMs, said once
    int m_wrongSizeUntold = 0;    // datagrams of the wrong size not yet in the log
    qint64 m_wrongSizeToldMs = 0; // on the monitor's steady clock
    bool m_wrongSizeTimer = false;
};
