// Marker codes of T.81 Table B.1 (the byte after 0xFF), shared by the
// header analysis, the decoder's restart handling and the marker writer.
#pragma once

#include <cstdint>

namespace mox {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kMarkerSof0 = 0xC0;   // baseline DCT frame
constexpr uint8_t kMarkerDht = 0xC4;
constexpr uint8_t kMarkerRst0 = 0xD0;   // RST0..RST7 cycle through 0xD0..0xD7
constexpr uint8_t kMarkerRst7 = 0xD7;
constexpr uint8_t kMarkerSoi = 0xD8;
constexpr uint8_t kMarkerEoi = 0xD9;
constexpr uint8_t kMarkerSos = 0xDA;
constexpr uint8_t kMarkerDqt = 0xDB;
constexpr uint8_t kMarkerDnl = 0xDC;
constexpr uint8_t kMarkerDri = 0xDD;
constexpr uint8_t kMarkerApp0 = 0xE0;
constexpr uint8_t kMarkerApp1 = 0xE1;
constexpr uint8_t kMarkerApp15 = 0xEF;
constexpr uint8_t kMarkerCom = 0xFE;

}  // namespace mox
