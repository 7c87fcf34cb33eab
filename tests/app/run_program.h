// A program run to its end as a script runs it: arguments, standard input
// from given bytes, standard output into a pipe the test reads, a file such
// as /dev/full, or a pipe whose reader has gone; standard error read apart.
// Every wait is bounded.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app_test {

struct RunOptions {
    enum class Output { Pipe, File, ClosedPipe };
    // Written to standard input (a pipe, closed after it); kept under the
    // pipe's capacity so that writing it cannot wait for the program.
    std::string input;
    Output output = Output::Pipe;
    // For Output::File.
    std::string output_file;
    // The program starts with SIGPIPE ignored, as under some shells and
    // services; otherwise with its default action.
    bool sigpipe_ignored = false;
    // NAME=value settings added to the environment.
    std::vector<std::string> environment;
};

struct RunResult {
    // The wait status; nothing when the program did not end in time (it is
    // then killed).
    std::optional<int> status;
    std::string output;
    std::string error;
};

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// "exit 2", "signal 13", "no end": for messages.
std::string describe(const std::optional<int>& status);

}  // namespace app_test
