#include "net/TransferThreads.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

class Pool {
public:
    std::future<void> run(std::function<void()> job)
    {
        std::packaged_task<void()> task(std::move(job));
        std::future<void> done = task.get_future();
        {
            const std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(task));
            // Each waiting thread takes one job: more jobs than waiters get a thread of their own.
            if (m_jobs.size() > m_waiting)
                std::thread([this] { serve(); }).detach();
        }
        m_wake.notify_one();
        return done;
    }

private:
    void serve()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            ++m_waiting;
            m_wake.wait(lock, [this] { return !m_jobs.empty(); });
            --m_waiting;
            std::packaged_task<void()> task = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_jobs;
    size_t m_waiting = 0;
};

} // namespace

namespace TransferThreads {

std::future<void> run(std::function<void()> job)
{
    // Never destroyed: its threads wait on it until the process ends.
    static Pool* const pool = new Pool;
    return pool->run(std::move(job));
}

} // namespace TransferThreads
