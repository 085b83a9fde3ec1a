#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

class QAction;
class QEvent;
class QWindow;

// While a mail is being sent, holds back the user's input to every window and delivers it once
// the mail is over, so nothing can start another mail or change the settings under it. A message
// box still takes its keys and clicks: it has nothing else to offer. What
// asks to close (the close box, Alt+F4, the window's close shortcut) goes through at once.
class SendInputGate : public QObject {
public:
    // The shortcut of `settings` is held back too, so it cannot open the dialog meanwhile.
    explicit SendInputGate(QAction* settings);
    ~SendInputGate() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Held {
        QPointer<QWindow> window;
        std::unique_ptr<QEvent> event;
    };
    QAction* m_settings;
    std::vector<Held> m_held;
};
