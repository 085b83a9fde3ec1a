#pragma once

#include "mail/SmtpTransfer.h"

#include <QString>
#include <QStringList>

// Mails that could not be sent for a reason that may pass, kept one file each in a folder so
// that they survive a restart. File names sort in the order the mails were kept, even when the
// clock went back meanwhile. Every file is written whole or not at all, even when the program
// is killed midway. Files are read at most 16 MiB, never through a link, never from a FIFO or
// device; the envelope read back must pass the checks of the To and From fields.
class Outbox {
public:
    static constexpr int DefaultCapacity = 1000;

    explicit Outbox(const QString& folder, int capacity = DefaultCapacity);

    // "<dir>/ZARVIK_Mail.ini" keeps its mails in "<dir>/ZARVIK_Mail.outbox".
    static QString folderFor(const QString& settingsPath);

    QString folder() const { return m_folder; }

    // Keeps `mail`; false with the reason when it could not. When the outbox is full, the oldest
    // other mails are dropped to make room and `dropped` counts them; `keptPath` names the file.
    bool keep(const ComposedMail& mail, QString* error, int* dropped = nullptr,
              QString* keptPath = nullptr);

    // The kept mails' files, oldest first: every entry named "*.mail", whatever its kind.
    QStringList pending() const;

    // A file a killed keep() left half-way ("….mail.saving-XXXX") becomes a kept mail when it
    // holds one whole, and is removed otherwise. Returns how many were taken in.
    int takeInLeftovers();

    // Reads one kept file; false with the reason when it is unreadable or not a kept mail.
    static bool read(const QString& path, ComposedMail* mail, QString* error);

    // A mail delivered (or refused for good) leaves the outbox.
    static bool remove(const QString& path);

    // Bytes of a kept file, and back.
    static QByteArray encode(const ComposedMail& mail);
    static bool decode(const QByteArray& bytes, ComposedMail* mail);

private:
    QString freshPath() const;

    QString m_folder;
    int m_capacity;
};
