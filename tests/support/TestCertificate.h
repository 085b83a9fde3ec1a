#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away self-signed certificate (EC P-256, valid for two days) and its unencrypted key,
// PEM files in a temporary folder, made with the openssl command. The certificate is its own
// CA: a client trusts it by taking certPath() as its CA bundle.
class TestCertificate {
public:
    // What the certificate is good for, in openssl's subjectAltName syntax.
    static QString loopbackNames() { return QStringLiteral("IP:127.0.0.1,IP:::1,DNS:localhost"); }

    // Runs openssl and waits (bounded); on failure isValid() is false and errorString() says why.
    explicit TestCertificate(const QString& altNames = loopbackNames());
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    // One loopback certificate for the whole test program, made on first use.
    static const TestCertificate& shared();

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString certPath() const { return m_dir.filePath(QStringLiteral("cert.pem")); }
    QString keyPath() const { return m_dir.filePath(QStringLiteral("key.pem")); }

private:
    QTemporaryDir m_dir;
    QString m_error;
};
