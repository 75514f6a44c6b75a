// The tool's commands. Each takes the arguments after its name and returns
// the process exit status: 0 done, 1 the job failed, 2 a warning (a picture
// written from a damaged stream) or a wrong command line.
#pragma once

#include <string>
#include <vector>

namespace moxtool {

using Arguments = std::vector<std::string>;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWarning = 2;

int runInfo(const Arguments& args);
int runDecode(const Arguments& args);
int runEncode(const Arguments& args);
int runDemo(const Arguments& args);

// Prints "moxcodec: <message>" on stderr.
void complain(const std::string& message);

// Option scanning shared by the commands: "--name value" or "--name=value",
// flags without a value, and plain operands in order.
class OptionScanner {
public:
    explicit OptionScanner(const Arguments& args) : args_(args) {}
    // Steps to the next argument; false at the end.
    bool next();
    bool isOption() const { return current_.rfind("--", 0) == 0; }
    const std::string& name() const { return name_; }
    const std::string& operand() const { return current_; }
    // The option's value; false (and a complaint) when it is missing.
    bool value(std::string& out);
    // Integer value within [low, high]; complains otherwise.
    bool integer(long& out, long low, long high);

private:
    const Arguments& args_;
    size_t index_ = 0;
    std::string current_;
    std::string name_;
    std::string inlineValue_;
    bool hasInline_ = false;
};

}  // namespace moxtool
