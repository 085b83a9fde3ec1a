#include "net/TlsSetup.h"

#include "core/AtomicFile.h"

#include <curl/curl.h>

namespace TlsSetup {

QString caFileProblem(const QByteArray& caFile)
{
    if (caFile.isEmpty())
        return QString();
    // libcurl would open a FIFO there and wait for a writer for ever, out of reach of any
    // deadline, or read a device without end.
    const QString path = QString::fromLocal8Bit(caFile);
    const QString problem = AtomicFile::notRegularFile(path, MaxCaFileSize);
    return problem.isEmpty() ? QString() : QStringLiteral("CA file \"%1\": %2").arg(path, problem);
}

void apply(void* handle, bool verifyPeer, const QByteArray& caFile)
{
    CURL* h = handle;
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verifyPeer ? 2L : 0L);
    // Set beside the system's directory of certificates, which libcurl keeps consulting.
    if (!caFile.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
}

} // namespace TlsSetup
