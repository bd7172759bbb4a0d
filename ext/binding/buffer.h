// Buffer: a growable array of trivially copyable items whose growth reports
// running out of memory (MemoryError) instead of ending the process, as the
// standard containers do in code built without exceptions.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

namespace davuzod {

template <typename Item>
class Buffer {
    static_assert(std::is_trivially_copyable_v<Item>);

public:
    Buffer() noexcept = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { PyMem_RawFree(items_); }

    Item* data() noexcept { return items_; }
    const Item* data() const noexcept { return items_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    Item& operator[](std::size_t at) noexcept { return items_[at]; }
    const Item& operator[](std::size_t at) const noexcept { return items_[at]; }
    Item& back() noexcept { return items_[size_ - 1]; }
    const Item& back() const noexcept { return items_[size_ - 1]; }
    Item* begin() noexcept { return items_; }
    Item* end() noexcept { return items_ + size_; }

    // Room for `wanted` items; false with MemoryError set.
    bool reserve(std::size_t wanted) noexcept {
        if (wanted <= capacity_) {
            return true;
        }
        std::size_t grown = capacity_ < 16 ? 16 : capacity_ * 2;
        if (grown < wanted) {
            grown = wanted;
        }
        if (grown > PY_SSIZE_T_MAX / sizeof(Item)) {
            PyErr_NoMemory();
            return false;
        }
        // The raw allocator: the buffers are freed where no interpreter lock is held (Arrow's release callbacks).
        auto* moved = static_cast<Item*>(PyMem_RawRealloc(items_, grown * sizeof(Item)));
        if (moved == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        items_ = moved;
        capacity_ = grown;
        return true;
    }

    bool push_back(Item item) noexcept {
        if (!reserve(size_ + 1)) {
            return false;
        }
        items_[size_++] = item;
        return true;
    }

    bool append(const Item* items, std::size_t count) noexcept {
        if (count == 0) {
            return true;
        }
        if (!reserve(size_ + count)) {
            return false;
        }
        std::memcpy(items_ + size_, items, count * sizeof(Item));
        size_ += count;
        return true;
    }

    // `count` items, the new ones set to `fill`.
    bool resize(std::size_t count, Item fill = Item{}) noexcept {
        if (!reserve(count)) {
            return false;
        }
        for (std::size_t i = size_; i < count; ++i) {
            items_[i] = fill;
        }
        size_ = count;
        return true;
    }

    void clear() noexcept { size_ = 0; }

    void release_memory() noexcept {
        PyMem_RawFree(std::exchange(items_, nullptr));
        size_ = capacity_ = 0;
    }

private:
    Item* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace davuzod
