#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificate;

// A real MQTT broker for the tests: Debian's mosquitto on a free loopback port with a
// configuration of its own in a temporary folder, nothing kept on disk. It can be stopped, killed
// and started again on the same port; the process goes with the object.
class MqttBroker {
public:
    struct Options {
        bool allowAnonymous = true;
        QString user; // set: a password file with this one user
        QString password;
        const TestCertificate* certificate = nullptr; // set: the listener speaks TLS only
    };

    // Starts the broker and waits (bounded) until it listens.
    explicit MqttBroker(const Options& options);
    MqttBroker();
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    bool isListening() const { return m_listening; }
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    // "mqtt://127.0.0.1:<port>", "mqtts://…" with TLS.
    QString url() const;
    // What mosquitto_sub and mosquitto_pub need to reach it and log in.
    QStringList clientArguments() const;
    // What it said on its standard error so far.
    QString log();

    bool start(); // on the same port; waits until it listens
    void stop();  // SIGTERM, waits for the end
    void kill();  // SIGKILL: clients see their connections die

private:
    bool writeConfiguration();

    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_log;
    quint16 m_port = 0;
    bool m_listening = false;
    QString m_error;
};
