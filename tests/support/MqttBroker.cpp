#include "support/MqttBroker.h"

#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/FreePort.h"
#include "support/TestCertificate.h"

#include <QFile>
#include <QTcpSocket>
#include <unistd.h>

namespace {
constexpr int kBrokerStartTimeoutMs = 15000;
const QString kBroker = QStringLiteral("/usr/sbin/mosquitto");

bool listens(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(200);
}
} // namespace

MqttBroker::MqttBroker()
    : MqttBroker(Options{})
{
}

MqttBroker::MqttBroker(const Options& options)
    : m_options(options)
    , m_port(freePort())
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, [this] { m_log += m_process.readAll(); });
    dieWithParent(m_process);
    if (!m_dir.isValid())
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
    else if (!QFile::exists(kBroker))
        m_error = kBroker + QStringLiteral(" is missing: run tools/install-deps.sh (mosquitto)");
    else if (writeConfiguration())
        start();
}

MqttBroker::~MqttBroker()
{
    stopProcess(m_process);
}

QString MqttBroker::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_options.certificate ? QLatin1String("mqtts") : QLatin1String("mqtt"))
        .arg(m_port);
}

QStringList MqttBroker::clientArguments() const
{
    QStringList arguments{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                          QString::number(m_port)};
    if (m_options.certificate)
        arguments << QStringLiteral("--cafile") << m_options.certificate->certPath();
    if (!m_options.user.isEmpty())
        arguments << QStringLiteral("-u") << m_options.user << QStringLiteral("-P")
                  << m_options.password;
    return arguments;
}

QString MqttBroker::log()
{
    m_log += m_process.readAll();
    return QString::fromLocal8Bit(m_log);
}

bool MqttBroker::writeConfiguration()
{
    QString conf =
        QStringLiteral("persistence false\nlog_dest stderr\n"
                       "listener %1 127.0.0.1\nallow_anonymous %2\n")
            .arg(m_port)
            .arg(m_options.allowAnonymous ? QLatin1String("true") : QLatin1String("false"));
    // As root it would change to the user "mosquitto", who cannot read this folder.
    if (::geteuid() == 0)
        conf += QStringLiteral("user root\n");
    if (m_options.certificate) {
        if (!m_options.certificate->isValid()) {
            m_error = QStringLiteral("no certificate: ") + m_options.certificate->errorString();
            return false;
        }
        conf += QStringLiteral("certfile %1\nkeyfile %2\n")
                    .arg(m_options.certificate->certPath(), m_options.certificate->keyPath());
    }
    if (!m_options.user.isEmpty()) {
        const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
        QProcess passwd;
        passwd.setProcessChannelMode(QProcess::MergedChannels);
        passwd.start(QStringLiteral("mosquitto_passwd"),
                     {QStringLiteral("-c"), QStringLiteral("-b"), passwords, m_options.user,
                      m_options.password});
        if (!passwd.waitForFinished(kBrokerStartTimeoutMs) || passwd.exitCode() != 0) {
            m_error = QStringLiteral("mosquitto_passwd failed: %1 %2")
                          .arg(passwd.errorString(), QString::fromLocal8Bit(passwd.readAll()));
            return false;
        }
        conf += QStringLiteral("password_file %1\n").arg(passwords);
    }
    QFile file(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(conf.toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write the broker's configuration: ") + file.errorString();
        return false;
    }
    return true;
}

bool MqttBroker::start()
{
    m_listening = false;
    if (m_process.state() != QProcess::NotRunning)
        stop();
    m_process.start(kBroker,
                    {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    const bool up = EventWait::until(
        [this] { return m_process.state() == QProcess::NotRunning || listens(m_port); },
        kBrokerStartTimeoutMs);
    m_listening = up && m_process.state() != QProcess::NotRunning;
    if (!m_listening)
        m_error = QStringLiteral("mosquitto did not start listening on %1 (%2, exit %3): %4")
                      .arg(m_port)
                      .arg(m_process.errorString())
                      .arg(m_process.exitCode())
                      .arg(log());
    return m_listening;
}

void MqttBroker::stop()
{
    stopProcess(m_process);
    m_listening = false;
}

void MqttBroker::kill()
{
    m_process.kill();
    m_process.waitForFinished(kBrokerStartTimeoutMs);
    m_listening = false;
}
