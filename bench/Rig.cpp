#include "Rig.h"

#include "device/BoardSource.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "monitor/Monitor.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>

Rig::Rig(const QString& extraIni, const std::function<void(const QString& iniPath)>& prepare)
{
    m_board.bind(QHostAddress::LocalHost, 0);
    connect(&m_board, &QUdpSocket::readyRead, this, [this] {
        while (m_board.hasPendingDatagrams())
            m_board.receiveDatagram();
    });
    m_sender.bind(QHostAddress::LocalHost, 0);

    const QString iniPath = m_dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    QString ini =
        QStringLiteral("[ZARVIK]\nAddress=127.0.0.1\nPort=%1\n").arg(m_board.localPort()) +
        extraIni;
    ini.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QFile file(iniPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(ini.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(iniPath));
        std::exit(1);
    }
    file.close();
    if (prepare)
        prepare(iniPath);

    // Connected before the program's idle pass connects, so it runs first on each aboutToBlock;
    // the second one, connected after, runs once the pass is over.
    auto* dispatcher = QAbstractEventDispatcher::instance(thread());
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
        if (atWaitLevel() && beforePass)
            beforePass();
    });
    m_shell = std::make_unique<Shell>(iniPath);
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
        if (!atWaitLevel())
            return;
        if (afterPass)
            afterPass();
        check();
    });

    // Connected after the window and the outputs: runs once they have taken the reply.
    connect(m_shell->monitor(), &Monitor::replyReceived, this, [this] {
        if (afterReply)
            afterReply();
        check();
    });

    // A message box would wait for a click that never comes: report it and stop.
    connect(&m_modalWatch, &QTimer::timeout, this, &Rig::failOnModal);
    m_modalWatch.start(500);
    m_shell->show();
}

Rig::~Rig() = default;

TFormZARVIK_Mail* Rig::form() const
{
    return m_shell->FormZARVIK_Mail();
}

TToolSettingDlg* Rig::dialog() const
{
    return m_shell->ToolSettingDlg();
}

quint16 Rig::programPort() const
{
    return m_shell->monitor()->source().localPort();
}

void Rig::sendReply(quint16 raw, quint8 bits)
{
    const char bytes[8] = {0, char(bits), 0, 0, char(raw >> 8), char(raw & 0xff), 0, 0};
    m_sender.writeDatagram(bytes, sizeof bytes, QHostAddress::LocalHost, programPort());
}

bool Rig::waitUntil(std::function<bool()> done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    m_loop = &loop;
    m_done = std::move(done);
    m_waitLevel = QThread::currentThread()->loopLevel() + 1;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    m_loop = nullptr;
    m_waitLevel = -1;
    return std::exchange(m_done, {})();
}

qint64 Rig::nowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

bool Rig::atWaitLevel() const
{
    return m_loop && QThread::currentThread()->loopLevel() == m_waitLevel;
}

void Rig::check()
{
    if (m_loop && m_done && m_done())
        m_loop->quit();
}

void Rig::failOnModal()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    const auto* box = qobject_cast<QMessageBox*>(modal);
    std::fprintf(stderr, "bench_inprocess: a modal window opened: %s\n",
                 box ? qPrintable(box->text()) : qPrintable(modal->windowTitle()));
    std::fflush(stderr);
    std::_Exit(3);
}
