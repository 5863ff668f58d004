// The storage a JSON reader gives the containers of one tree: memory handed out from large
// blocks and never given back piece by piece. Reset makes the blocks usable for the next tree, so
// a reader that parses one reply after another reuses the same memory instead of asking the
// system for it (and faulting it in) each time.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <vector>

namespace microblog {

class JsonArena : public std::pmr::memory_resource {
public:
    JsonArena() = default;
    ~JsonArena() override;
    JsonArena(const JsonArena&) = delete;
    JsonArena& operator=(const JsonArena&) = delete;

    // Forgets everything handed out. Keeps blocks up to kRetainedBytes for reuse, frees the rest.
    void Reset();
    // Frees every block.
    void Release();

    static constexpr std::size_t kFirstBlock = std::size_t{16} * 1024;
    static constexpr std::size_t kLargestBlock = std::size_t{1024} * 1024;
    static constexpr std::size_t kRetainedBytes = std::size_t{64} * 1024 * 1024;

private:
    struct Block {
        char* bytes;
        std::size_t size;
    };

    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    std::vector<Block> blocks_;
    std::size_t current_ = 0; // the block being filled
    std::size_t used_ = 0;    // bytes used in it
};

} // namespace microblog
