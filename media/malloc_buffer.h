#pragma once

#include <cstddef>
#include <cstdlib>
#include <utility>

namespace flowloom {

// A block from the C allocator with one owner. File readers hand out malloc'd blocks,
// so every image-sized buffer is one, and this class only makes its release automatic.
template <class T>
class MallocBuffer {
public:
    MallocBuffer() = default;
    explicit MallocBuffer(T* adopted) : data_(adopted) {}
    ~MallocBuffer() { Release(); }
    MallocBuffer(const MallocBuffer&) = delete;
    MallocBuffer& operator=(const MallocBuffer&) = delete;
    MallocBuffer(MallocBuffer&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    MallocBuffer& operator=(MallocBuffer&& other) noexcept {
        if (this != &other) Adopt(std::exchange(other.data_, nullptr));
        return *this;
    }

    T* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    T& operator[](std::size_t i) const { return data_[i]; }

    // Replaces the content by an uninitialised block of `count` elements; a count of 0
    // still gives a (one-element) block, so an empty grid has its buffers present.
    // Returns 1, or 0 with the buffer absent when the allocation failed.
    int Allocate(std::size_t count) {
        Release();
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) return 0;
        data_ = static_cast<T*>(std::malloc((count ? count : 1) * sizeof(T)));
        return data_ != nullptr;
    }
    // Takes ownership of a block from malloc (or null), releasing the one held.
    void Adopt(T* block) {
        if (block == data_) return;
        Release();
        data_ = block;
    }
    T* Detach() { return std::exchange(data_, nullptr); }
    void Release() {
        std::free(data_);
        data_ = nullptr;
    }

private:
    T* data_ = nullptr;
};

}  // namespace flowloom
