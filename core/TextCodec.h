#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Conversions between Qt's Unicode strings and the byte encodings the program meets outside:
// CP932 (Shift-JIS) in the settings file, ISO-2022-JP in mail. Built on glibc iconv.
namespace TextCodec {

// Converts `bytes` from one iconv encoding to another. Returns nothing when the input holds a
// sequence invalid in `from` or a character that `to` cannot represent.
std::optional<QByteArray> convert(const QByteArray& bytes, const char* from, const char* to);

std::optional<QString> fromCp932(const QByteArray& bytes);
std::optional<QByteArray> toCp932(const QString& text);

} // namespace TextCodec
