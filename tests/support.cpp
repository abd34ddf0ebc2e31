#include "support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "run/run.h"

namespace tavrik::test {

namespace {

// A FILE* holding the text, positioned at its start.
std::FILE* file_with(const std::string& text) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        throw std::runtime_error("tmpfile failed");
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    return file;
}

std::string shell_quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace

std::string record_text(const std::vector<std::string>& move_lines) {
    std::string text = "Test record\nengine v1\n";
    for (const std::string& line : move_lines)
        text += line + "\n";
    return text;
}

MoveTable read_table(const std::string& text) {
    std::FILE* file = file_with(text);
    MoveTable table;
    const int error = read_record_file(file, table);
    std::fclose(file);
    if (error != 0)
        throw std::runtime_error("read failed");
    return table;
}

RunResult run_in_process(const std::string& record, const std::vector<std::string>& range_args) {
    std::vector<std::string> args = {"-"};
    args.insert(args.end(), range_args.begin(), range_args.end());
    return run_args_in_process(record, args);
}

RunResult run_args_in_process(const std::string& input, const std::vector<std::string>& args) {
    std::FILE* in = file_with(input);
    const Capture out;
    const Capture err;
    std::vector<const char*> argv = {"tavrik"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    RunResult result;
    result.status = tavrik_main(static_cast<int>(argv.size()), argv.data(), in, out.file(), err.file());
    result.out = out.text();
    result.err = err.text();
    std::fclose(in);
    return result;
}

RunResult run_command(const std::vector<std::string>& words, const std::string& input,
                      const std::string& output) {
    const TempFile out("");
    const TempFile err("");
    std::string command;
    for (const std::string& word : words) {
        command += shell_quoted(word);
        command += ' ';
    }
    command += input;
    command += ' ';
    if (output.empty()) {
        command += '>';
        command += out.path();
    } else {
        command += output;
    }
    command += " 2>";
    command += err.path();

    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = read_file(out.path());
    result.err = read_file(err.path());
    return result;
}

RunResult run_program(const std::vector<std::string>& args, const std::string& input,
                      const std::string& output) {
    std::vector<std::string> words = {TAVRIK_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    return run_command(words, input, output);
}

Capture::Capture() : file_(std::tmpfile()) {
    if (file_ == nullptr)
        throw std::runtime_error("tmpfile failed");
}

Capture::~Capture() { std::fclose(file_); }

std::string Capture::text() const {
    std::rewind(file_);
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0)
        text.append(chunk, got);
    return text;
}

TempFile::TempFile(const std::string& content, const std::string& suffix) {
    std::string name = "/tmp/tavrik-test-XXXXXX" + suffix;
    const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        throw std::runtime_error("mkstemps failed");
    ::close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << content;
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

} // namespace tavrik::test
