#pragma once
// Scratch memory for one prediction, planned by the first run and reused by
// every later one, so that steady-state predictions do not allocate.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::ml {

class Workspace {
public:
    /// Buffers taken after a scope began are given back when it ends, so that
    /// a loop over layers runs every layer in the first one's buffers.
    class Scope {
    public:
        explicit Scope(Workspace& workspace) : workspace_(workspace), used_(workspace.used_) {}
        ~Scope() { workspace_.used_ = used_; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Workspace& workspace_;
        size_t used_;
    };

    /// Starts a run: earlier buffers are given back for reuse.
    void reset() { used_ = 0; }
    /// A 64-byte aligned buffer of `count` floats, valid until the next
    /// reset() or the end of the scope it was taken in. Memory taken in one
    /// run is kept; a later run of the same shape reuses it.
    float* floats(size_t count);

private:
    struct FreeMemory {
        void operator()(float* memory) const;
    };
    struct Block {
        std::unique_ptr<float, FreeMemory> memory;
        size_t capacity = 0;
    };
    std::vector<Block> blocks_;
    size_t used_ = 0;
};

/// Hands out workspaces to concurrent predictions; each is returned on release.
class WorkspacePool {
public:
    class Lease {
    public:
        Lease(WorkspacePool& pool, std::unique_ptr<Workspace> workspace)
            : pool_(&pool), workspace_(std::move(workspace)) {
            workspace_->reset();
        }
        ~Lease() {
            if (workspace_) pool_->release(std::move(workspace_));
        }
        Lease(Lease&&) = default;
        Workspace& operator*() { return *workspace_; }
        Workspace* operator->() { return workspace_.get(); }

    private:
        WorkspacePool* pool_;
        std::unique_ptr<Workspace> workspace_;
    };

    Lease acquire();

private:
    void release(std::unique_ptr<Workspace> workspace);
    std::mutex mutex_;
    std::vector<std::unique_ptr<Workspace>> free_;
};

} // namespace platform::ml
