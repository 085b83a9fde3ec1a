#include "support/BoxWatcher.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>

BoxWatcher::BoxWatcher(int closeAfterMs, QObject* parent)
    : QObject(parent)
    , m_closeAfterMs(closeAfterMs)
{
    qApp->installEventFilter(this);
    connect(&m_timer, &QTimer::timeout, this, &BoxWatcher::closeDue);
    m_timer.start(20);
}

BoxWatcher::~BoxWatcher()
{
    qApp->removeEventFilter(this);
}

bool BoxWatcher::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide)
        return false;
    auto* box = qobject_cast<QMessageBox*>(watched);
    if (!box || !box->isWindow())
        return false;
    if (type == QEvent::Show) {
        m_boxes.append({box->windowTitle(), box->text(), box->icon()});
        m_shownAt.append({box, QDateTime::currentMSecsSinceEpoch()});
        m_mostOpen = std::max(m_mostOpen, ++m_open);
    } else if (m_shownAt.removeIf([box](const auto& entry) { return entry.first == box; })) {
        --m_open;
    }
    return false;
}

void BoxWatcher::closeDue()
{
    // A box destroyed while shown sends no hide event.
    m_open -= int(m_shownAt.removeIf([](const auto& entry) { return entry.first.isNull(); }));
    if (m_closeAfterMs < 0)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const auto& [box, shownAt] : QList(m_shownAt)) {
        if (box && now - shownAt >= m_closeAfterMs)
            box->close();
    }
}

void BoxWatcher::closeAll()
{
    for (const auto& entry : QList(m_shownAt)) {
        if (entry.first)
            entry.first->close();
    }
}
