#include "support/AppHarness.h"

#include "support/SettingsFile.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

namespace AppHarness {

QString writeSettings(const QTemporaryDir& dir, quint16 boardPort, const QString& extra)
{
    return writeSettingsFile(dir.path(), boardPort, extra);
}

void whenModalOpens(std::function<void(QWidget*)> inspect, int timeoutMs)
{
    auto* timer = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, inspect, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && !deadline.hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        if (modal) {
            inspect(modal);
            modal->close();
        }
    });
    timer->start(20);
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString messageBoxText(QWidget* modal)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    return box ? box->text() : QString();
}

} // namespace AppHarness
