#pragma once
// Process-wide settings of the model runtime.

namespace platform::ml {

class Runtime {
public:
    /// Threads the runtime's pool uses for matrix products and parallel loops
    /// (the matrix library itself always runs single-threaded inside the
    /// pool's blocks). Predictions started from several threads at once share
    /// the pool, so the total stays bounded. Defaults to the number of
    /// processors this process may run on (its affinity mask and CPU quota).
    static void setThreadCount(int count);
    /// The threads a prediction run on the calling thread may use.
    static int threadCount();

    /// While it lives, predictions run on the thread that made it use at
    /// most `threads` of the pool's threads (0 or less: no limit). Work run
    /// side by side on several threads takes a share each, so that together
    /// they keep to the pool's width instead of each splitting every product
    /// over all of it; with a share of 1 a thread runs its predictions alone,
    /// without handing work to the pool at all.
    class ThreadShare {
    public:
        explicit ThreadShare(int threads);
        ~ThreadShare();
        ThreadShare(const ThreadShare&) = delete;
        ThreadShare& operator=(const ThreadShare&) = delete;

    private:
        int previous_;
    };
};

} // namespace platform::ml
