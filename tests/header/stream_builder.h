// Hand-built JPEG header streams for the header-analysis tests, a harness
// that runs MoxAnalysisHeader over an input buffer of exactly the stream's
// size (so the sanitizer build catches any read past it), and the error-log
// records a call leaves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/errlog.h"
#include "frame/t81tables.h"
#include "moxcodec.h"

namespace headertest {

struct Component {
    uint8_t sampling;  // H in the high nibble, V in the low nibble
    uint8_t table;     // Tq in a frame header, Td/Ta in a scan header
};

class StreamBuilder {
public:
    StreamBuilder& byte(uint8_t value) { bytes_.push_back(value); return *this; }
    StreamBuilder& word(uint16_t value) { return byte(uint8_t(value >> 8)).byte(uint8_t(value)); }
    StreamBuilder& raw(const std::vector<uint8_t>& data)
    {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    StreamBuilder& text(const std::string& data) { return raw({data.begin(), data.end()}); }
    StreamBuilder& marker(uint8_t code) { return byte(0xFF).byte(code); }
    // A marker segment: code, length (body + 2), body.
    StreamBuilder& segment(uint8_t code, const std::vector<uint8_t>& body)
    {
        return marker(code).word(uint16_t(body.size() + 2)).raw(body);
    }
    StreamBuilder& soi() { return marker(0xD8); }
    StreamBuilder& eoi() { return marker(0xD9); }

    // Baseline frame header, precision 8.
    StreamBuilder& sof(uint16_t width, uint16_t height, const std::vector<Component>& components,
                       uint8_t precision = 8, uint8_t code = 0xC0)
    {
        std::vector<uint8_t> body = {precision, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
                                     uint8_t(width), uint8_t(components.size())};
        uint8_t id = 1;
        for (const Component& c : components) {
            body.push_back(id++);
            body.push_back(c.sampling);
            body.push_back(c.table);
        }
        return segment(code, body);
    }
    // Scan header with Ss 0, Se 63, Ah/Al 0.
    StreamBuilder& sos(const std::vector<Component>& components)
    {
        std::vector<uint8_t> body = {uint8_t(components.size())};
        uint8_t id = 1;
        for (const Component& c : components) {
            body.push_back(id++);
            body.push_back(c.table);
        }
        for (uint8_t b : {0, 63, 0}) body.push_back(b);  // Ss, Se, Ah/Al
        return segment(0xDA, body);
    }
    // One 8-bit quantisation table given in zig-zag order.
    StreamBuilder& dqt8(uint8_t id, const std::vector<uint8_t>& zigzag) { return marker(0xDB).word(67).byte(id).raw(zigzag); }
    // DHT body of one table: Tc/Th, BITS, HUFFVAL.
    static std::vector<uint8_t> huffmanTable(uint8_t classAndId, const mox::HuffmanDefinition& definition)
    {
        std::vector<uint8_t> body(1, classAndId);
        size_t count = 0;
        for (uint8_t b : definition.bits) {
            body.push_back(b);
            count += b;
        }
        for (size_t i = 0; i < count; ++i) body.push_back(definition.values[i]);
        return body;
    }
    StreamBuilder& dht(uint8_t id, const mox::HuffmanDefinition& table) { return segment(0xC4, huffmanTable(id, table)); }
    StreamBuilder& comment(const std::string& value) { return segment(0xFE, {value.begin(), value.end()}); }
    // JFIF APP0: version 1.01, units, densities, thumbnail w x h (3 bytes a pixel).
    StreamBuilder& jfif(uint8_t units, uint16_t densityX, uint16_t densityY, uint8_t thumbWidth = 0,
                        uint8_t thumbHeight = 0)
    {
        std::vector<uint8_t> body = {'J', 'F', 'I', 'F', 0, 1, 1, units, uint8_t(densityX >> 8), uint8_t(densityX),
                                     uint8_t(densityY >> 8), uint8_t(densityY), thumbWidth, thumbHeight};
        body.resize(body.size() + size_t(thumbWidth) * thumbHeight * 3, 0x5A);
        return segment(0xE0, body);
    }
    // JFXX APP0 with the given extension code and payload.
    StreamBuilder& jfxx(uint8_t extension, size_t payload)
    {
        std::vector<uint8_t> body = {'J', 'F', 'X', 'X', 0, extension};
        body.resize(body.size() + payload, 0xA5);
        return segment(0xE0, body);
    }

    // A minimal grayscale header up to and including the scan header.
    StreamBuilder& grayHeader()
    {
        return soi().dqt8(0, {mox::kLuminanceQuant, mox::kLuminanceQuant + 64}).sof(16, 8, {{0x11, 0}})
            .dht(0x00, mox::kLuminanceDc).dht(0x10, mox::kLuminanceAc).sos({{0x11, 0x00}});
    }

    // A one-component frame over the K.1 table, without the scan header.
    StreamBuilder& grayFrame(std::vector<Component> frame = {{0x11, 0}})
    {
        return soi().dqt8(0, {mox::kLuminanceQuant, mox::kLuminanceQuant + 64}).sof(8, 8, frame);
    }

    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// The three decoder records around one input buffer holding a stream.
struct Analysis {
    PictureInfo pic{};
    SystemParam sys{};
    DecodeParam param{};
    std::unique_ptr<uint8_t[]> buffer;  // exactly pieceSize bytes

    // pieceSize bytes of the stream go into the buffer; totalSize defaults
    // to the whole stream.
    explicit Analysis(const std::vector<uint8_t>& stream, size_t pieceSize = SIZE_MAX,
                      size_t totalSize = SIZE_MAX)
    {
        MoxDecClearParam(&pic, &sys, &param);
        if (pieceSize == SIZE_MAX) pieceSize = stream.size();
        buffer.reset(new uint8_t[pieceSize > 0 ? pieceSize : 1]);
        std::memcpy(buffer.get(), stream.data(), pieceSize < stream.size() ? pieceSize : stream.size());
        sys.inputBuffer = buffer.get();
        sys.pieceSize = uint32_t(pieceSize);
        sys.totalSize = uint32_t(totalSize == SIZE_MAX ? stream.size() : totalSize);
    }

    int32_t run(InputFunc input = nullptr, void* user = nullptr, int32_t* error = nullptr)
    {
        return MoxAnalysisHeader(&sys, input, user, &pic, &param, error);
    }
};

// The error-log records `action` writes, as "name code" each, with their
// detail lines (" x 2/3 "). The ring is first brought to slot 0, so that the
// dump holds those records alone.
inline std::vector<std::string> logDuring(const std::function<void()>& action)
{
    while (mox::ErrLogIndex() != 0) MOX_FAIL("filler", 0, nullptr);
    action();
    testing::internal::CaptureStdout();
    MoxDispMsgTraceM();
    std::istringstream dump(testing::internal::GetCapturedStdout());
    std::vector<std::string> records;
    for (std::string line; std::getline(dump, line);) {
        if (line.rfind("Error : ", 0) == 0) records.push_back(line.substr(8, line.find(" , ") - 8));
        if (line.rfind(" ", 0) == 0) records.push_back(line);
    }
    return records;
}

}  // namespace headertest
