#include "support/TestCertificate.h"

#include <QFileInfo>
#include <QProcess>

namespace {
constexpr int kTimeoutMs = 30000; // EC keys take milliseconds; this is for a loaded machine
}

TestCertificate::TestCertificate(const QString& altNames)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the certificate: ") + m_dir.errorString();
        return;
    }
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + altNames, QStringLiteral("-keyout"),
                   keyPath(), QStringLiteral("-out"), certPath()});
    if (!openssl.waitForStarted(kTimeoutMs)) {
        m_error = QStringLiteral("cannot run openssl (package openssl): ") + openssl.errorString();
        return;
    }
    openssl.closeWriteChannel(); // nothing to ask: -nodes and -subj answer every prompt
    if (!openssl.waitForFinished(kTimeoutMs)) {
        openssl.kill();
        openssl.waitForFinished(3000);
        m_error = QStringLiteral("openssl did not finish within %1 s").arg(kTimeoutMs / 1000);
        return;
    }
    const QString output = QString::fromLocal8Bit(openssl.readAll()).trimmed();
    if (openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        m_error =
            QStringLiteral("openssl req failed (exit %1): %2").arg(openssl.exitCode()).arg(output);
    else if (QFileInfo(certPath()).size() == 0 || QFileInfo(keyPath()).size() == 0)
        m_error = QStringLiteral("openssl wrote no certificate or key: ") + output;
}

const TestCertificate& TestCertificate::shared()
{
    static const TestCertificate certificate;
    return certificate;
}
