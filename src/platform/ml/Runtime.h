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
    static int threadCount();
};

} // namespace platform::ml
