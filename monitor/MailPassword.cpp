#include "monitor/MailPassword.h"

#include "core/AtomicFile.h"
#include "settings/Settings.h"

#include <QDir>

MailPassword::MailPassword(Settings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
{
    connect(&m_store, &PasswordStore::loaded, this, [this](const QString& password) {
        if (m_settings.text(Settings::MailPassword).isEmpty())
            m_settings.setValue(Settings::MailPassword, password);
    });
    connect(&m_store, &PasswordStore::unavailable, this, &MailPassword::unavailable);
    connect(&m_store, &PasswordStore::answered, this, &MailPassword::answered);
    connect(&m_store, &PasswordStore::stored, this, &MailPassword::stored);
}

void MailPassword::ask(Ask when)
{
    // Only a server to log in to has a password worth asking the keyring for.
    const QString server = m_settings.text(Settings::MailServer);
    const QString user = m_settings.text(Settings::MailUser);
    if (when == Ask::ForLogin && (server.trimmed().isEmpty() || user.trimmed().isEmpty()))
        return;
    m_store.load(PasswordStore::keyFor(server, user));
}

void MailPassword::keep(int waitMs)
{
    m_store.store(PasswordStore::keyFor(m_settings.text(Settings::MailServer),
                                        m_settings.text(Settings::MailUser)),
                  m_settings.text(Settings::MailPassword), waitMs);
}

bool MailPassword::takeCredential(const QString& folder, QString* warning)
{
    if (folder.isEmpty())
        return false;
    const QString path = QDir(folder).filePath(QStringLiteral("smtp-password"));
    // Never a FIFO or a device: reading one could wait for ever.
    const AtomicFile::Read file = AtomicFile::read(path, MaxCredentialSize);
    if (file.missing)
        return false;
    // A lone line end is what the unit sets when no password file was there.
    if (file.error.isEmpty() && file.bytes == "\n")
        return false;
    QString why = file.error;
    if (why.isEmpty() && file.bytes.size() > MaxCredentialSize)
        why = QStringLiteral("larger than %1 bytes, so not a password").arg(MaxCredentialSize);
    // A password is a line: a final line break from an editor is not part of it.
    QString password = why.isEmpty() ? QString::fromUtf8(file.bytes) : QString();
    while (password.endsWith(u'\n') || password.endsWith(u'\r'))
        password.chop(1);
    if (!why.isEmpty())
        *warning = QStringLiteral("The credential smtp-password cannot be used (%1); mail goes "
                                  "without a password")
                       .arg(why);
    else if (password.isEmpty())
        *warning =
            QStringLiteral("The credential smtp-password is empty; mail goes without a password");
    m_settings.setValue(Settings::MailPassword, password);
    return true;
}
