#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string.h>
#include <string>
#include <vector>

namespace tolvane::platform {

// Overwrites memory that held a secret before it is freed; the compiler may not drop it.
inline void wipeBytes(void* data, std::size_t size) {
    if (data && size) {
        explicit_bzero(data, size);
    }
}

template <class Char> void wipe(std::basic_string<Char>& text) {
    wipeBytes(text.data(), text.capacity() * sizeof(Char));
    text.clear();
}

// A vector of plain records (no pointers to further secrets).
template <class T> void wipeRecords(std::vector<T>& records) {
    wipeBytes(static_cast<void*>(records.data()), records.capacity() * sizeof(T));
    records.clear();
}

// Gives memory back overwritten: for containers whose nodes hold a secret each (a character),
// which no wipe of the container reaches.
template <class T> struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U> WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        wipeBytes(static_cast<void*>(p), n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <class U> bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

// A map whose nodes are overwritten as they are freed.
template <class Key, class Value>
using WipedMap = std::map<Key, Value, std::less<Key>, WipingAllocator<std::pair<const Key, Value>>>;

} // namespace tolvane::platform
