#pragma once

#include "core/AtomicFile.h"
#include "settings/IniText.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The settings file: Windows-style INI text in CP932 with CRLF lines.
//
// Reading is forgiving, so that files edited by hand or by other tools load as meant: section
// and key names are case-insensitive, blanks around
// names and values are trimmed, and the first of duplicate keys wins. An integer or boolean whose
// text is not an integer reads as the default; a boolean is true for any integer other than 0.
// Writing keeps every other line of the file; new keys go at the end of their section, new
// sections at the end of the file, in the order written. Nothing touches the disk until save().
class IniFile {
public:
    // Reads the file now. A missing file is an empty one. A file that cannot be read cleanly
    // yields defaults for whatever could not be read, and readProblem() says why.
    explicit IniFile(const QString& path);

    QString path() const { return m_path; }
    // Empty when the file was missing or read cleanly; otherwise why it was not.
    QString readProblem() const { return m_readProblem; }

    bool contains(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key, const QString& def) const;
    int readInteger(const QString& section, const QString& key, int def) const;
    bool readBool(const QString& section, const QString& key, bool def) const;

    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

    // Replaces the file atomically where its chain of links ends, keeping its owner and its mode
    // (or, with Access::OwnerOnly, taking away every right of others).
    // When the file had a read problem, it is first kept as a backup (AtomicFile::keepBackup).
    // A file we may not write is left alone. On failure `error` gets a message naming the file
    // and the system's reason, and the old file is left as it was.
    bool save(QString* error = nullptr, AtomicFile::Access access = AtomicFile::Access::AsBefore);

private:
    // One line of the file. Its bytes are what save() writes back, so a line nobody edits keeps
    // every byte, even one that is not valid CP932.
    struct Line {
        QByteArray bytes; // without the line ending
        bool readable = true;
        IniText::ParsedLine parsed;
    };

    static Line makeLine(const QByteArray& bytes, const std::optional<QString>& text);
    static Line makeLine(const QByteArray& bytes);
    void load();
    // A file that an editor saved as UTF-8 with a byte order mark; false when it is not UTF-8.
    bool loadUtf8(const QByteArray& bytes);
    qsizetype findSection(const QString& section) const;
    qsizetype sectionEnd(qsizetype header) const;
    qsizetype findKey(qsizetype header, const QString& key) const;

    QString m_path;
    QString m_readProblem;
    QVector<Line> m_lines;
    bool m_backupKept = false; // a second save() must not keep our own file as a backup
};
