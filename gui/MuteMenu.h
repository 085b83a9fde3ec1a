#pragma once

#include <QMenu>

class Monitor;
class QInputDialog;

// "通知停止(&N)": maintenance for 30 minutes, an hour, four hours, until a time typed, or ended
// now. The monitor keeps it; the menu only asks.
class MuteMenu : public QMenu {
    Q_OBJECT
public:
    explicit MuteMenu(Monitor& monitor, QWidget* parent = nullptr);

    QAction* Mute30m;
    QAction* Mute1h;
    QAction* Mute4h;
    QAction* MuteUntil; // asks for a time of day
    QAction* MuteOff;

signals:
    // A typed time was not one; said in a box by the window.
    void refused(const QString& why);

private:
    void askTime();
    void takeTime(const QString& text);

    Monitor& m_monitor;
    QInputDialog* m_ask = nullptr;
};
