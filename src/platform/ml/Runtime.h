#pragma once
// Process-wide settings of the model runtime.

namespace platform::ml {

class Runtime {
public:
    /// Threads one prediction may use for matrix products and parallel loops
    /// (the matrix library and the runtime's own pool alike). Batch callers
    /// that run several predictions at once should divide the machine's cores
    /// between them. Defaults to the number of hardware threads.
    static void setThreadCount(int count);
    static int threadCount();
};

}  // namespace platform::ml
