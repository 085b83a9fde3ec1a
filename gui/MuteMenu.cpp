#include "gui/MuteMenu.h"

#include "core/Clock.h"
#include "monitor/Monitor.h"
#include "monitor/Mute.h"

#include <QDateTime>
#include <QInputDialog>

namespace {

QAction* entry(QMenu* menu, const char* name, const QString& text)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace

MuteMenu::MuteMenu(Monitor& monitor, QWidget* parent)
    : QMenu(tr("通知停止(&N)"), parent)
    , m_monitor(monitor)
{
    setObjectName(QStringLiteral("MenuMute"));
    Mute30m = entry(this, "Mute30m", tr("30 分(&3)"));
    Mute1h = entry(this, "Mute1h", tr("1 時間(&1)"));
    Mute4h = entry(this, "Mute4h", tr("4 時間(&4)"));
    MuteUntil = entry(this, "MuteUntil", tr("時刻を指定(&T)..."));
    addSeparator();
    MuteOff = entry(this, "MuteOff", tr("通知停止を終了(&E)"));
    const std::pair<QAction*, qint64> spans[] = {
        {Mute30m, 30 * 60000}, {Mute1h, 60 * 60000}, {Mute4h, 4 * 60 * 60000}};
    for (const auto& [action, spanMs] : spans) {
        connect(action, &QAction::triggered, this, [this, spanMs = spanMs] {
            m_monitor.muteUntil(m_monitor.clock().nowMs() + spanMs);
        });
    }
    connect(MuteUntil, &QAction::triggered, this, &MuteMenu::askTime);
    connect(MuteOff, &QAction::triggered, this, [this] { m_monitor.muteUntil(0); });
    MuteOff->setEnabled(monitor.mutedUntilMs() != 0);
    connect(&monitor, &Monitor::muteChanged, this,
            [this](qint64 untilMs) { MuteOff->setEnabled(untilMs != 0); });
}

void MuteMenu::askTime()
{
    if (!m_ask) {
        m_ask = new QInputDialog(parentWidget());
        m_ask->setObjectName(QStringLiteral("MuteUntilDialog"));
        m_ask->setWindowTitle(tr("通知停止"));
        m_ask->setLabelText(tr("通知を止める時刻 (例 14:30):"));
        connect(m_ask, &QInputDialog::textValueSelected, this, &MuteMenu::takeTime);
    }
    m_ask->setTextValue(QString());
    m_ask->open();
}

void MuteMenu::takeTime(const QString& text)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(m_monitor.clock().nowMs());
    QString error;
    const QString typed = text.trimmed();
    // A time of day only: a span typed here would mean something else than it says.
    const auto untilMs = typed.contains(u':')
                             ? Mute::parse(QStringLiteral("until ") + typed, now, &error)
                             : std::nullopt;
    if (!untilMs) {
        emit refused(tr("'%1' は時刻ではありません (例 14:30)").arg(text));
        return;
    }
    m_monitor.muteUntil(*untilMs);
}
