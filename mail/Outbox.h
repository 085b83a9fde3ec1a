#pragma once

#include "mail/SmtpTransfer.h"

#include <QString>
#include <QStringList>

// The outbox's files: mails that could not be sent for a reason that may pass, kept one file
// each in a folder (by the kept queue) so that they survive a restart. Files are read at most
// 16 MiB, never through a link, never from a FIFO or device; the envelope read back must pass
// the checks of the To and From fields.
class Outbox {
public:
    static constexpr int DefaultCapacity = 1000;
    static inline const QString Suffix = QStringLiteral(".mail");

    explicit Outbox(const QString& folder);

    // "<dir>/ZARVIK_Mail.ini" keeps its mails in "<dir>/ZARVIK_Mail.outbox".
    static QString folderFor(const QString& settingsPath);

    QString folder() const { return m_folder; }

    // The kept mails' files, oldest first: every entry named "*.mail", whatever its kind.
    QStringList pending() const;

    // Reads one kept file; false with the reason when it is unreadable or not a kept mail.
    static bool read(const QString& path, ComposedMail* mail, QString* error);

    // Bytes of a kept file, and back.
    static QByteArray encode(const ComposedMail& mail);
    static bool decode(const QByteArray& bytes, ComposedMail* mail);

private:
    QString m_folder;
};
