#pragma once

#include <QObject>
#include <QString>

// Keeps the mail password in the desktop's keyring (Secret Service, through QtKeychain) under
// the service "ZARVIK Mail" and a key naming the server and user; never in the settings file.
// Where no keyring answers, the password lives for this run only.
class PasswordStore : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultWaitMs = 5000;
    // How long a mail waits for the password being read before it goes without.
    static constexpr int LoadWaitMs = 10000;

    explicit PasswordStore(QObject* parent = nullptr);

    // "user@server" from the texts as typed, blanks trimmed.
    static QString keyFor(const QString& server, const QString& user);

    // Starts reading the password kept under `key`; emits `loaded` when there is one, and
    // `answered` once the keyring has answered, or after `waitMs` without an answer (then the
    // keyring counts as unavailable).
    void load(const QString& key, int waitMs = LoadWaitMs);
    // A load has been started and has not been answered yet: a mail now would go without the
    // password.
    bool isLoading() const { return m_loading != 0; }
    // Keeps `password` under `key` (an empty one removes the entry) unless it is kept there
    // already, and emits `stored` with the outcome, always after returning. Without an answer
    // within `waitMs` the store counts as failed.
    void store(const QString& key, const QString& password, int waitMs = DefaultWaitMs);

    // False once the keyring has failed to answer; `why` says what it said.
    bool isAvailable() const { return m_unavailableWhy.isEmpty(); }
    QString unavailableWhy() const { return m_unavailableWhy; }

signals:
    void loaded(const QString& password);
    void unavailable(const QString& why);
    void answered();
    // The outcome of a store(); `error` is empty when it succeeded.
    void stored(bool ok, const QString& error);

private:
    void noteFailure(int code, const QString& why);
    void report(bool ok, const QString& why = {});

    QString m_key; // what the keyring is known to hold under it
    QString m_kept;
    bool m_known = false;
    QString m_unavailableWhy;
    quint64 m_loading = 0; // the load waited for; 0 for none
    quint64 m_loads = 0;
};
