#include "core/IdlePass.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <utility>

namespace {

int suspensions = 0;

const QEvent::Type PassEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

IdlePass::Suspension::Suspension()
{
    ++suspensions;
}
IdlePass::Suspension::~Suspension()
{
    --suspensions;
}

IdlePass::IdlePass(std::function<void()> handler, QObject* parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    connect(QAbstractEventDispatcher::instance(QThread::currentThread()),
            &QAbstractEventDispatcher::aboutToBlock, this, &IdlePass::run);
}

IdlePass::~IdlePass() = default;

void IdlePass::run()
{
    if (m_running || suspensions > 0 || !m_handler)
        return;
    m_running = true;
    ++m_passCount;
    // Delivered as an event so that an error in the pass reaches the application's one error
    // report; the report's own box runs no passes, so this cannot overlap another pass.
    QEvent pass(PassEvent);
    QCoreApplication::sendEvent(this, &pass);
    m_running = false;
}

bool IdlePass::event(QEvent* event)
{
    if (event->type() != PassEvent)
        return QObject::event(event);
    m_handler();
    return true;
}
