// Shared pieces of the fuzz targets: options read from the input's last
// bytes, and the plain allocator scheme. Every target reads each output
// byte, so a wrong length or an uninitialised byte shows under the
// sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "moxcodec.h"

namespace moxfuzz {

// The last `count` bytes of the input are options; the rest is data. A
// short input gives options of zero and keeps all its bytes as data.
class Options {
public:
    Options(const uint8_t* data, size_t size, size_t count)
    {
        if (size >= count) {
            options_.assign(data + size - count, data + size);
            size_ = size - count;
        } else {
            options_.assign(count, 0);
            size_ = size;
        }
    }
    uint8_t operator[](size_t i) const { return options_[i]; }
    size_t dataSize() const { return size_; }

private:
    std::vector<uint8_t> options_;
    size_t size_;
};

inline void* allocBlock(uint32_t size)
{
    return std::malloc(size == 0 ? 1 : size);
}

inline void freeBlock(void* pointer)
{
    std::free(pointer);
}

// Sums every byte, so that each one is read (MemorySanitizer-style check
// under ASan: a read past a buffer is caught, the sum itself is unused).
inline uint32_t touch(const uint8_t* data, size_t size)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += data[i];
    return sum;
}

// Whether any frame header in the bytes declares more than 512 x 512
// pixels (such pictures only make a run slow, not more thorough).
inline bool pictureTooLarge(const std::vector<uint8_t>& s)
{
    for (size_t i = 0; i + 8 < s.size(); ++i) {
        uint8_t code = s[i + 1];
        bool frame = s[i] == 0xFF && code >= 0xC0 && code <= 0xCF && code != 0xC4 &&
                     code != 0xC8 && code != 0xCC;
        if (!frame) continue;
        uint32_t height = uint32_t(s[i + 5]) << 8 | s[i + 6];
        uint32_t width = uint32_t(s[i + 7]) << 8 | s[i + 8];
        if (uint64_t{width} * height > 512 * 512) return true;
    }
    return false;
}

}  // namespace moxfuzz
