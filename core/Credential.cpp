#include "core/Credential.h"

#include "core/AtomicFile.h"

#include <QDir>

namespace Credential {

Read read(const QString& folder, const QString& name, qint64 maxSize)
{
    Read result;
    if (folder.isEmpty())
        return result;
    const AtomicFile::Read file = AtomicFile::read(QDir(folder).filePath(name), maxSize);
    if (file.missing || (file.error.isEmpty() && file.bytes == "\n"))
        return result;
    result.present = true;
    result.error = file.error;
    result.tooLarge = file.error.isEmpty() && file.bytes.size() > maxSize;
    if (file.error.isEmpty() && !result.tooLarge)
        result.bytes = file.bytes;
    return result;
}

} // namespace Credential
