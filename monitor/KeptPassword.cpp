#include "monitor/KeptPassword.h"

#include "core/Credential.h"

KeptPassword::KeptPassword(Settings& settings, const PasswordKeys& keys, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_keys(keys)
{
    connect(&m_store, &PasswordStore::loaded, this, [this](const QString& password) {
        if (m_settings.text(m_keys.password).isEmpty())
            m_settings.setValue(m_keys.password, password);
    });
    connect(&m_store, &PasswordStore::unavailable, this, &KeptPassword::unavailable);
    connect(&m_store, &PasswordStore::answered, this, &KeptPassword::answered);
    connect(&m_store, &PasswordStore::stored, this, &KeptPassword::stored);
}

QString KeptPassword::keyringKey() const
{
    return QString::fromLatin1(m_keys.keyringPrefix) +
           PasswordStore::keyFor(m_settings.text(m_keys.server), m_settings.text(m_keys.user));
}

void KeptPassword::ask(Ask when)
{
    // Only a server to log in to has a password worth asking the keyring for.
    const QString server = m_settings.text(m_keys.server);
    const QString user = m_settings.text(m_keys.user);
    if (when == Ask::ForLogin && (server.trimmed().isEmpty() || user.trimmed().isEmpty()))
        return;
    m_store.load(keyringKey());
}

void KeptPassword::keep(int waitMs)
{
    m_store.store(keyringKey(), m_settings.text(m_keys.password), waitMs);
}

bool KeptPassword::takeCredential(const QString& folder, QString* warning)
{
    const QString name = QString::fromLatin1(m_keys.credential);
    const Credential::Read file = Credential::read(folder, name, MaxCredentialSize);
    if (!file.present)
        return false;
    const QString why =
        file.tooLarge
            ? QStringLiteral("larger than %1 bytes, so not a password").arg(MaxCredentialSize)
            : file.error;
    // A password is a line: a final line break from an editor is not part of it.
    QString password = why.isEmpty() ? QString::fromUtf8(file.bytes) : QString();
    while (password.endsWith(u'\n') || password.endsWith(u'\r'))
        password.chop(1);
    const QString without = QString::fromLatin1(m_keys.goesWithout);
    if (!why.isEmpty())
        *warning = QStringLiteral("The credential %1 cannot be used (%2); %3 without a password")
                       .arg(name, why, without);
    else if (password.isEmpty())
        *warning =
            QStringLiteral("The credential %1 is empty; %2 without a password").arg(name, without);
    m_settings.setValue(m_keys.password, password);
    return true;
}
