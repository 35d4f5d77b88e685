#include "platform/ml/ops/Workspace.h"

#include <cstdlib>
#include <new>

namespace platform::ml {

void Workspace::FreeMemory::operator()(float* memory) const {
    std::free(memory);
}

float* Workspace::floats(size_t count) {
    size_t index = used_++;
    size_t rounded = (count + 15) / 16 * 16; // whole 64-byte lines
    if (index == blocks_.size()) blocks_.emplace_back();
    Block& block = blocks_[index];
    if (block.capacity < rounded) {
        void* memory = std::aligned_alloc(64, rounded * sizeof(float));
        if (!memory) throw std::bad_alloc();
        block.memory.reset(static_cast<float*>(memory));
        block.capacity = rounded;
    }
    return block.memory.get();
}

WorkspacePool::Lease WorkspacePool::acquire() {
    std::unique_ptr<Workspace> workspace;
    {
        std::lock_guard lock(mutex_);
        if (!free_.empty()) {
            workspace = std::move(free_.back());
            free_.pop_back();
        }
    }
    if (!workspace) workspace = std::make_unique<Workspace>();
    return Lease(*this, std::move(workspace));
}

void WorkspacePool::release(std::unique_ptr<Workspace> workspace) {
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(workspace));
}

} // namespace platform::ml
