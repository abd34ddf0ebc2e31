// Helpers shared by the tests: records in memory, captured output, and
// runs of the built program.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "record/record.h"

namespace tavrik::test {

// Two header lines and the given move lines, each ended by a newline.
std::string record_text(const std::vector<std::string>& move_lines);

// The table read from the given record text.
MoveTable read_table(const std::string& text);

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// One whole run in-process with the given arguments; the text is standard
// input, named "-" among the arguments.
RunResult run_args_in_process(const std::string& input, const std::vector<std::string>& args);

// One whole run in-process over the record text, with the given
// command-line arguments after the file name.
RunResult run_in_process(const std::string& record,
                         const std::vector<std::string>& range_args = {});

// The command, run through the shell with its words quoted. input and
// output are shell redirections such as "< FILE" or "> /dev/full"; without
// an output redirection standard output is captured.
RunResult run_command(const std::vector<std::string>& words, const std::string& input = "",
                      const std::string& output = "");

// The built program with the given arguments, run as run_command runs it.
RunResult run_program(const std::vector<std::string>& args, const std::string& input = "",
                      const std::string& output = "");

// Output written to file(), read back as text().
class Capture {
public:
    Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture();
    [[nodiscard]] std::FILE* file() const { return file_; }
    [[nodiscard]] std::string text() const;

private:
    std::FILE* file_;
};

// A file with the given content that removes itself when destroyed.
class TempFile {
public:
    // suffix ends the name, as in ".pgn".
    explicit TempFile(const std::string& content, const std::string& suffix = "");
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);

// Lines of text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);

} // namespace tavrik::test
