#pragma once

#include <QByteArray>
#include <QString>

// A secret systemd hands the service (LoadCredential=) as a file in $CREDENTIALS_DIRECTORY.
namespace Credential {

struct Read {
    bool present = false;  // handed over: neither missing nor the unit's empty fallback
    bool tooLarge = false; // over the size asked for: not what it claims to be
    QByteArray bytes;
    QString error; // why it could not be read
};

// Never waits on a FIFO or reads a device. A lone line end is what the unit sets when no file
// was there: not present.
Read read(const QString& folder, const QString& name, qint64 maxSize);

} // namespace Credential
