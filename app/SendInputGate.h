#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

class QAction;
class QEvent;
class QWindow;

// While a mail is being sent, holds back the user's input to every window and delivers it once
// the mail is over, so nothing can start another mail or change the settings under it. What
// asks to close (the close box, Alt+F4, the window's close shortcut) goes through at once.
class SendInputGate : public QObject {
public:
    // `settings` is disabled meanwhile, so its shortcut cannot open the dialog.
    explicit SendInputGate(QAction* settings);
    ~SendInputGate() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Held {
        QPointer<QWindow> window;
        std::unique_ptr<QEvent> event;
    };
    QPointer<QAction> m_settings;
    bool m_settingsWereEnabled = false;
    std::vector<Held> m_held;
};
