#include "data/json_arena.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace microblog {

JsonArena::~JsonArena() {
    Release();
}

void JsonArena::Release() {
    for (const Block& block : blocks_)
        ::operator delete(block.bytes);
    blocks_.clear();
    current_ = 0;
    used_ = 0;
}

void JsonArena::Reset() {
    std::size_t kept = 0;
    std::size_t keep = 0;
    while (keep < blocks_.size() && kept + blocks_[keep].size <= kRetainedBytes)
        kept += blocks_[keep++].size;
    for (std::size_t i = keep; i < blocks_.size(); ++i)
        ::operator delete(blocks_[i].bytes);
    blocks_.resize(keep);
    current_ = 0;
    used_ = 0;
}

void* JsonArena::do_allocate(std::size_t bytes, std::size_t alignment) {
    while (current_ < blocks_.size()) {
        Block& block = blocks_[current_];
        std::size_t start = (used_ + alignment - 1) & ~(alignment - 1);
        if (start + bytes <= block.size) {
            used_ = start + bytes;
            return block.bytes + start;
        }
        ++current_;
        used_ = 0;
    }
    std::size_t size = blocks_.empty() ? kFirstBlock : std::min(blocks_.back().size * 2, kLargestBlock);
    size = std::max(size, bytes + alignment);
    // Blocks come from operator new, aligned for any type; throws std::bad_alloc when memory is out.
    auto* memory = static_cast<char*>(::operator new(size));
    blocks_.push_back({memory, size});
    current_ = blocks_.size() - 1;
    std::size_t start = (reinterpret_cast<std::uintptr_t>(memory) + alignment - 1) / alignment * alignment -
                        reinterpret_cast<std::uintptr_t>(memory);
    used_ = start + bytes;
    return memory + start;
}

} // namespace microblog
