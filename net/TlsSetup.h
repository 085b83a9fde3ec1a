#pragma once

#include <QByteArray>
#include <QString>

// How every libcurl transfer of the program (SMTP, HTTP posts) checks the server it talks to.
namespace TlsSetup {

// A named CA file larger than this is refused: a bundle of every public CA is about 200 KB.
inline constexpr qint64 MaxCaFileSize = 4 * 1024 * 1024;

// Why the PEM bundle `caFile` (local 8-bit encoding) cannot be used, in the words the user is
// told ("CA file \"/x\": not a regular file"); empty when it can be, or when none is named.
QString caFileProblem(const QByteArray& caFile);

// Verifies the peer's certificate and host name, or neither; `caFile`, when named, is trusted
// beside the system's store. `handle` is a CURL*.
void apply(void* handle, bool verifyPeer, const QByteArray& caFile = QByteArray());

} // namespace TlsSetup
