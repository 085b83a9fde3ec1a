#pragma once

#include "settings/PasswordStore.h"
#include "settings/Settings.h"

#include <QObject>
#include <QString>

// Which password a KeptPassword owns: the settings keys it lives in, where the keyring keeps it
// and the service's credential that gives it.
struct PasswordKeys {
    Settings::Key server;
    Settings::Key user;
    Settings::Key password;    // held for the run, never written to the file
    const char* keyringPrefix; // before "user@server", so two passwords never share an entry
    const char* credential;    // the file's name in $CREDENTIALS_DIRECTORY
    const char* goesWithout;   // "mail goes": what happens without the password
};

// The one owner of a password: what was typed (the settings' password key, never written to the
// file), what the keyring keeps for the server and user, and the service's credential. What was
// typed wins over what the keyring answers later.
class KeptPassword : public QObject {
    Q_OBJECT
public:
    // A password is a line; anything far longer is not one, and is refused rather than cut.
    static constexpr qint64 MaxCredentialSize = 4096;

    KeptPassword(Settings& settings, const PasswordKeys& keys, QObject* parent = nullptr);

    const PasswordKeys& keys() const { return m_keys; }
    // The keyring's entry for the server and user in the settings.
    QString keyringKey() const;

    // Asks the keyring for the password of the server and user in the settings. Without both
    // there is nothing to ask, unless whether a keyring answers is worth knowing anyway.
    enum class Ask { ForLogin, EvenWithoutLogin };
    void ask(Ask when = Ask::ForLogin);
    // The keyring was asked and has not answered: a login now would go without the password.
    bool isAsking() const { return m_store.isLoading(); }
    bool keyringAvailable() const { return m_store.isAvailable(); }
    QString keyringProblem() const { return m_store.unavailableWhy(); }
    // Keeps what was typed under the server and user in force; ends in stored().
    void keep(int waitMs = PasswordStore::DefaultWaitMs);

    // The service's credential in `folder` ($CREDENTIALS_DIRECTORY), taken as the password.
    // False when there is none; `warning` says why one found cannot be used (the login then goes
    // without a password).
    bool takeCredential(const QString& folder, QString* warning);

signals:
    void unavailable(const QString& why);
    // The keyring answered, or was given up on.
    void answered();
    void stored(bool ok, const QString& error);

private:
    Settings& m_settings;
    const PasswordKeys m_keys;
    PasswordStore m_store;
};
