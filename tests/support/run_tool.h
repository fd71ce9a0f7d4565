// Runs the real tapline binary as a separate process with the simulated
// adapter preloaded under its libftdi, and collects what it left behind.
#ifndef TAPLINE_TESTS_RUN_TOOL_H
#define TAPLINE_TESTS_RUN_TOOL_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tapsim.h"

struct ToolRun {
    int status = -1; // exit status, 128 + N when signal N ended it
    int signal = 0;  // the signal that ended it
    std::string out;
    std::string err;
    bool has_record = false; // false: the tool never touched USB
    tapsim::Record record;
    std::string record_text; // the file as written
};

using EnvList = std::vector<std::pair<std::string, std::string>>;

// The child's standard input is /dev/null and its output and error go to
// files, unless asked otherwise here.
struct Streams {
    std::optional<std::string> input; // written to a pipe on standard input
    bool error_on_tty = false; // standard error on a pseudo-terminal (raw)
    // Standard output goes to this device instead of a file; "": closed.
    std::optional<std::string> output_to = std::nullopt;
};

// args excludes the program name. env adds TAPSIM_* settings.
ToolRun run_tool(const std::vector<std::string> &args, const EnvList &env = {},
                 const Streams &streams = {});

#endif
