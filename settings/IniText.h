#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// The text rules of the settings file, apart from any file: how its lines split and read, how
// numbers parse, how written text becomes CP932 bytes.
namespace IniText {

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;  // section or key name, blanks trimmed
    QString value; // key value, blanks trimmed
};

// Splits at CRLF, LF or CR and drops the endings; a final line without an ending still counts.
QList<QByteArray> splitLines(const QByteArray& bytes);
QList<QString> splitLines(const QString& text);

// Trims spaces and tabs only: other characters may belong to a value.
QStringView trimBlanks(QStringView text);

// Comment lines start with ';' or '#'; text after a section's closing bracket is ignored; a key
// line is split at its first '='; anything else (blank, comment, junk) is LineKind::Other.
ParsedLine parseLine(QStringView line);

// A decimal integer with an optional sign that fits in int; nothing else.
std::optional<int> parseInteger(QStringView text);

// CP932 bytes for text written into the file. CR, LF and NUL become spaces, so a value can
// never split its line or make the file unreadable; characters CP932 lacks (emoji, most
// non-Japanese scripts) become '?', so one odd character cannot cost the whole save.
QByteArray encode(const QString& text);

} // namespace IniText
