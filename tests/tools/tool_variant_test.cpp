// The bp and copier variants through the tool: hand-made MCUs decode to
// known pixels, and the parameter options reach the library's checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tool_support.h"
#include "vela/bp.h"

namespace {

using tooltest::runTool;

// 2 x 1 fixed-size MCUs. Blocks are DC 0 then EOB, so every sample is 128: K.3/K.5
// "00 1010" = 0x2B, K.4/K.6 "00 00" = 0x0F.
std::vector<uint8_t> twoMcus(const std::vector<uint8_t>& head)
{
    std::vector<uint8_t> stream(128, 0xFF);  // filler behind each MCU's bytes
    std::copy(head.begin(), head.end(), stream.begin());
    std::copy(head.begin(), head.end(), stream.begin() + 64);
    return stream;
}

std::vector<uint8_t> copierStream()
{
    return twoMcus({0x00, 0x10, 0x41, 0x2B, 0x0F, 0x0F});  // R 0, b0 = b1 = b2 = 1
}

// Short-form bp MCUs: a tag section of the empty entity set (tag value 2)
// and block 3.
std::vector<uint8_t> bpStream()
{
    return twoMcus({0x82, 0x07, 0x84, 0x02, 0x2B});  // L 2, b3 1
}

TEST(ToolVariants, DecodeWithParameterOptions)
{
    tooltest::ScratchDir dir;
    tooltest::writeFile(dir.path("copier.vela"), copierStream());
    tooltest::writeFile(dir.path("bp.vela"), bpStream());
    std::vector<uint8_t> tables(mox::kBpTableBytes);
    std::memcpy(tables.data(), mox::bpDefaultTables(), tables.size());
    tooltest::writeFile(dir.path("tables.bin"), tables);
    tooltest::writeFile(dir.path("short.bin"), std::vector<uint8_t>(100, 0));
    const std::vector<std::string> size = {"--width", "16", "--height", "8"};

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* message;  // expected in stderr (failures)
        int channels;
        uint8_t value;        // every output byte (successes)
    };
    const Case cases[] = {
        {"copier RGB", {"decode", dir.path("copier.vela"), dir.path("c.ppm"), "--mode", "3"}, 0, "", 3, 128},
        {"copier gray, variable size flag off", {"decode", dir.path("copier.vela"), dir.path("c.pgm"), "--mode", "3",
                                                 "--out-format", "0", "--vela-size-mode", "0", "--piece", "70"},
         0, "", 1, 128},
        {"bp block 3 only", {"decode", dir.path("bp.vela"), dir.path("b.pgm"), "--mode", "2", "--out-format", "5"},
         0, "", 1, 128},
        {"bp with the default table block", {"decode", dir.path("bp.vela"), dir.path("t.pgm"), "--mode", "2",
                                             "--out-format", "5", "--tables", dir.path("tables.bin")},
         0, "", 1, 128},
        {"table block of the wrong size", {"decode", dir.path("bp.vela"), dir.path("x.pgm"), "--mode", "2",
                                           "--tables", dir.path("short.bin")},
         1, "holds 100 bytes; a table block has 6672", 0, 0},
        {"copier rule 0 is refused", {"decode", dir.path("copier.vela"), dir.path("x.ppm"), "--mode", "3",
                                      "--copier-rule", "0"},
         1, "MoxDecInit failed: status -12", 0, 0},
        {"bp rotation 1 is refused", {"decode", dir.path("bp.vela"), dir.path("x.png"), "--mode", "2",
                                      "--bp-rotation", "1"},
         1, "MoxDecInit failed: status -12", 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), size.begin(), size.end());
        tooltest::RunResult run = runTool(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err;
        if (c.exitCode != 0) {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": have " << run.err;
            continue;
        }
        moxtest::Picture picture;
        ASSERT_TRUE(tooltest::readPicture(args[2], picture)) << c.name;
        EXPECT_EQ(picture.components, c.channels) << c.name;
        EXPECT_EQ(picture.pixels, std::vector<uint8_t>(16 * 8 * c.channels, c.value)) << c.name;
    }
    tooltest::RunResult help = runTool({"decode", "--help"});
    for (const char* option : {"--tables FILE", "--copier-rule", "--bp-rotation", "--copier-rotation"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option << " missing from decode --help";
}

}  // namespace
