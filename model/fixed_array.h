// An owned array whose length is fixed when it is allocated: the module sizes
// every array by a counting pass first, so none ever grows.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

namespace tamberlo {

template <typename T>
class FixedArray {
  public:
    FixedArray() = default;
    // Allocates `count` value-initialised elements; throws std::bad_alloc.
    explicit FixedArray(std::size_t count)
        : elements_(count > 0 ? std::make_unique<T[]>(count) : nullptr), count_(count) {}

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Whether an array is held at all (an array of zero elements counts).
    T *data() { return elements_.get(); }
    const T *data() const { return elements_.get(); }
    T &operator[](std::size_t index) { return elements_[index]; }
    const T &operator[](std::size_t index) const { return elements_[index]; }
    std::span<T> view() { return {elements_.get(), count_}; }
    std::span<const T> view() const { return {elements_.get(), count_}; }
    T *begin() { return elements_.get(); }
    T *end() { return elements_.get() + count_; }
    const T *begin() const { return elements_.get(); }
    const T *end() const { return elements_.get() + count_; }

  private:
    std::unique_ptr<T[]> elements_;
    std::size_t count_ = 0;
};

}  // namespace tamberlo
