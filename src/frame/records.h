// Conventions of the caller-owned parameter records: -1 (all bits set)
// marks a field that is not set.
#pragma once

#include <cstdint>
#include <cstring>

#include "moxcodec.h"

namespace mox {

constexpr int32_t kNotSet = -1;
constexpr uint32_t kNotSetWord = 0xFFFFFFFFu;

// A Huffman table left for Init to default: count and first entries -1.
inline void clearHuffmanRecord(HuffDecodeTable* table)
{
    std::memset(table, 0, sizeof(*table));
    table->count = kNotSetWord;
    table->lengths[0] = kNotSetWord;
    table->codes[0] = kNotSetWord;
    table->symbols[0] = kNotSetWord;
}

}  // namespace mox
