#include "gui/SendInputGate.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QWindow>

namespace {

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

} // namespace

SendInputGate::SendInputGate(QAction* settings)
    : m_settings(settings)
{
    QCoreApplication::instance()->installEventFilter(this);
}

SendInputGate::~SendInputGate()
{
    QCoreApplication::instance()->removeEventFilter(this);
    for (Held& held : m_held) {
        if (held.window)
            QCoreApplication::postEvent(held.window, held.event.release());
    }
}

bool SendInputGate::eventFilter(QObject* watched, QEvent* event)
{
    // Input reaches a window first and is passed on to its widgets from there; holding it at
    // the window holds it once. Shortcuts are matched before that, which lets the close one
    // through.
    if (event->type() == QEvent::Shortcut && watched == m_settings)
        return true; // dropped, as the keys that made it would have been
    if (!watched->isWindowType() || !isInput(event->type()))
        return false;
    // A message box has only its own buttons, so nothing in it can start a mail or change a
    // setting; holding its input would hold it open, and the code that opened it, until the end.
    const auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->windowHandle() == watched)
        return false;
    m_held.push_back({static_cast<QWindow*>(watched), std::unique_ptr<QEvent>(event->clone())});
    return true;
}
