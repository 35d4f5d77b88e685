#pragma once
// The application's background executor: one thread per job. Jobs are few
// and long (a dictation's transcription, an AI request), so there is no pool.
// Destruction waits for the running jobs.

#include "halvex_zovuruv/core/BackgroundExecutor.h"

#include <list>
#include <mutex>
#include <thread>

namespace halvex {

class BackgroundThreads final : public BackgroundExecutor {
public:
    BackgroundThreads() = default;
    ~BackgroundThreads() override;
    BackgroundThreads(const BackgroundThreads&) = delete;
    BackgroundThreads& operator=(const BackgroundThreads&) = delete;

    void run(std::function<void()> job) override;

private:
    struct Worker {
        std::thread thread;
        bool finished = false;
    };
    void reapFinished(); // joins workers whose job has ended; holds mutex_

    std::mutex mutex_;
    std::list<Worker> workers_;
};

} // namespace halvex
