#pragma once

#include <cstddef>
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

} // namespace tolvane::platform
