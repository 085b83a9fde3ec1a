#pragma once

#include "settings/PasswordStore.h"

#include <QObject>
#include <QString>

class Settings;

// The one owner of the mail password: what was typed (the settings' MailPassword, never written
// to the file), what the keyring keeps for the server and user, and the service's credential.
// What was typed wins over what the keyring answers later.
class MailPassword : public QObject {
    Q_OBJECT
public:
    // A password is a line; anything far longer is not one, and is refused rather than cut.
    static constexpr qint64 MaxCredentialSize = 4096;

    explicit MailPassword(Settings& settings, QObject* parent = nullptr);

    // Asks the keyring for the password of the server and user in the settings. Without both
    // there is nothing to ask, unless whether a keyring answers is worth knowing anyway.
    enum class Ask { ForLogin, EvenWithoutLogin };
    void ask(Ask when = Ask::ForLogin);
    // The keyring was asked and has not answered: a mail now would go without the password.
    bool isAsking() const { return m_store.isLoading(); }
    bool keyringAvailable() const { return m_store.isAvailable(); }
    QString keyringProblem() const { return m_store.unavailableWhy(); }
    // Keeps what was typed under the server and user in force; ends in stored().
    void keep(int waitMs = PasswordStore::DefaultWaitMs);

    // The service's credential "smtp-password" in `folder` ($CREDENTIALS_DIRECTORY), taken as
    // the password. False when there is none; `warning` says why one found cannot be used (mail
    // then goes without a password).
    bool takeCredential(const QString& folder, QString* warning);

signals:
    void unavailable(const QString& why);
    // The keyring answered, or was given up on.
    void answered();
    void stored(bool ok, const QString& error);

private:
    Settings& m_settings;
    PasswordStore m_store;
};
