#include "vela_support.h"

namespace velatest {

std::vector<uint8_t> packBits(const std::string& bits)
{
    std::vector<uint8_t> out;
    int used = 0;
    for (char b : bits) {
        if (b != '0' && b != '1') continue;
        if (used % 8 == 0) out.push_back(0xFF);
        if (b == '0') out.back() = static_cast<uint8_t>(out.back() & ~(0x80 >> (used % 8)));
        ++used;
    }
    return out;
}

std::string bitString(const uint8_t* bytes, size_t count)
{
    std::string s;
    for (size_t i = 0; i < count; ++i)
        for (int b = 7; b >= 0; --b) s += ((bytes[i] >> b) & 1) != 0 ? '1' : '0';
    return s;
}

}  // namespace velatest
