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
    // Moves a file aside under `path + suffix`, never deleting it; returns the new name, or an
    // empty string when it could not be moved.
    static QString setAside(const QString& path, const QString& suffix);
    // The files of `folder` whose names end in `suffix`, oldest kept first; links and the like
    // too, so that a reader can refuse them and say so.
    static QStringList keptIn(const QString& folder, const QString& suffix);
    // A new name in `folder` that sorts after every kept one, even after the clock went back.
    static QString freshPathIn(const QString& folder, const QString& suffix);

    // Bytes of a kept file, and back.
    static QByteArray encode(const ComposedMail& mail);
    static bool decode(const QByteArray& bytes, ComposedMail* mail);

private:
    QString freshPath() const;

    QString m_folder;
    int m_capacity;
};

// When the n-th retry after a failure is due (0 for the first): 15 s, 30 s, 60 s, 2 min, then
// every 5 min, times `scale` (tests shorten it).
int retryDelayMs(int attempt, double scale = 1.0);
