#pragma once

#include <functional>
#include <future>

// Threads that run transfers, kept once started. A job handed to one that waits starts at once
// on a thread whose stack, heap arena and libcurl state are already warm, where a thread made for
// the job would first wait its turn with the scheduler.
namespace TransferThreads {

// Runs `job` on a kept thread that has nothing to do, or on a new one (kept afterwards): a job
// never waits for another. The future is ready once the job has returned; dropping it does not
// wait.
std::future<void> run(std::function<void()> job);

} // namespace TransferThreads
