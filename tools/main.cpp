// moxcodec: inspect, decode and encode pictures with libmoxcodec, and run
// the demo job on a page drawn in code.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "moxcodec.h"

namespace {

const char kUsage[] =
    "usage: moxcodec COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  info FILE.jpg                 show what the JPEG header holds\n"
    "  decode IN.jpg OUT.png|.ppm|.pgm|.pnm\n"
    "                                decode a JPEG (or a VELA stream) to a picture\n"
    "  encode IN.png|.ppm|.pgm OUT.jpg\n"
    "                                encode a picture as JPEG (or VELA)\n"
    "  demo [--out DIR]              encode and decode a test page drawn in code\n"
    "  version                       print the library's version\n"
    "\n"
    "'moxcodec COMMAND --help' lists the options of a command. '-' in place of a\n"
    "file name is standard input or output.\n"
    "\n"
    "Exit status: 0 done; 1 failed; 2 a warning (a picture written from a damaged\n"
    "stream) or a wrong command line.\n";

}  // namespace

int main(int argc, char** argv)
{
    using namespace moxtool;
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string command = argv[1];
    Arguments args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "info") return runInfo(args);
    if (command == "decode") return runDecode(args);
    if (command == "encode") return runEncode(args);
    if (command == "demo") return runDemo(args);
    if (command == "version" || command == "--version") {
        std::printf("%s\n", MoxGetVersion());
        return kExitOk;
    }
    complain("unknown command '" + command + "'");
    std::fputs(kUsage, stderr);
    return kExitUsage;
}
