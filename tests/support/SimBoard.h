#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <functional>

// Runs the simulated board (zarvik-sim) as a child process for a test: its stdout is parsed as it
// arrives, commands are written to its stdin and every wait is bounded.
class SimBoard : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray bytes;
        QHostAddress address;
        quint16 port = 0;
        qint64 ms = 0; // since the simulator started
    };

    explicit SimBoard(QObject* parent = nullptr);
    ~SimBoard() override;

    // Starts the simulator and waits for it to listen; port 0 lets it pick a free one.
    bool start(const QHostAddress& bind = QHostAddress::LocalHost, quint16 port = 0,
               const QStringList& extraArguments = {}, int timeoutMs = 10000);
    bool isRunning() const;
    QHostAddress address() const { return m_address; }
    quint16 port() const { return m_port; }

    // Sends one command line; true when the simulator answered "ok" within the timeout.
    bool command(const QString& line, int timeoutMs = 5000);
    QString lastAnswer() const { return m_lastAnswer; }

    bool setTemperature(double celsius);
    bool setRaw(int raw);
    bool setBits(int bits);
    bool setReplySize(int size);
    bool setSilent(bool silent);
    bool push(int size = 8);
    bool pushTo(const QHostAddress& address, quint16 port, int size = 8);

    QList<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // True once at least count requests were seen (counted since start or clearRequests()).
    bool waitForRequests(int count, int timeoutMs);

signals:
    void requestSeen(const SimBoard::Request& request);

private:
    void readOutput();
    void readErrors();
    void parseLine(const QString& line);
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    static bool splitEndpoint(const QString& text, QHostAddress* address, quint16* port);

    QProcess m_process;
    QByteArray m_stdoutBuffer;
    QByteArray m_stderrBuffer;
    QHostAddress m_address;
    quint16 m_port = 0;
    QList<Request> m_requests;
    qint64 m_commandsSent = 0;
    qint64 m_answersSeen = 0;
    QString m_lastAnswer;
};
