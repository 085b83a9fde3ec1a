#include "support/BoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QTest>
#include <QWindow>

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
        if (!box || now - shownAt < m_closeAfterMs)
            continue;
        if (m_answer == Answer::Close) {
            box->close();
        } else if (now - shownAt > m_closeAfterMs + 5000) {
            ++m_forced;
            box->close();
        } else if (now - m_answeredAt.value(box, 0) >= 500) {
            m_answeredAt.insert(box, now);
            answer(box);
        }
    }
}

void BoxWatcher::answer(QMessageBox* box)
{
    QWindow* window = box->windowHandle();
    if (!window || !box->isVisible())
        return;
    // Through the window, where the platform delivers real input, not to a widget directly.
    if (m_answer == Answer::Enter) {
        QTest::keyClick(window, Qt::Key_Return);
        return;
    }
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    if (!ok)
        ok = box->buttons().value(0);
    if (ok)
        QTest::mouseClick(window, Qt::LeftButton, {}, ok->mapTo(box, ok->rect().center()));
}

void BoxWatcher::closeAll()
{
    for (const auto& entry : QList(m_shownAt)) {
        if (entry.first)
            entry.first->close();
    }
}
