#include "app/IdlePass.h"

#include "app/ErrorReport.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <utility>

namespace {
int suspensions = 0;
}

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
    try {
        m_handler();
    } catch (...) {
        // The report's own box runs no passes, so this cannot overlap another pass.
        ErrorReport::showCurrent();
    }
    m_running = false;
}
