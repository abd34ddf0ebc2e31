// UCI engine processes: fork and exec, pipes, poll, and the protocol.
#include "engine/engine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>

namespace tavrik {

namespace {

// An engine that prints more than this without a line break is broken.
constexpr std::size_t LONGEST_LINE = std::size_t{1} << 20;

constexpr std::int64_t MATE = 100000;

std::string errno_text(int error) { return std::strerror(error); }

void close_fd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string first_word(std::string_view line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return {};
    const std::size_t end = line.find_first_of(" \t", start);
    return std::string(line.substr(start, end == std::string_view::npos ? end : end - start));
}

std::optional<std::int64_t> number_of(const std::string& word) {
    if (word.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(word.c_str(), &end, 10);
    if (*end != '\0' || errno != 0)
        return std::nullopt;
    return n;
}

std::string describe_status(int status) {
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "ended";
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_engine(const std::string& program, int to_child, int from_child, int report,
                              pid_t parent) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    // The engine gets the default signal handling, whatever we set up.
    for (const int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP})
        ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::dup2(to_child, STDIN_FILENO) < 0 || ::dup2(from_child, STDOUT_FILENO) < 0) {
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report, &error, sizeof error);
        ::_exit(127);
    }
    const char* argv[] = {program.c_str(), nullptr};
    ::execv(program.c_str(), const_cast<char* const*>(argv)); // NOLINT(cppcoreguidelines-pro-type-const-cast)
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

} // namespace

void read_info_line(std::string_view line, SearchReport& report) {
    std::istringstream words{std::string(line)};
    std::string word;
    if (!(words >> word) || word != "info")
        return;
    SearchReport found;
    bool exact = false;
    bool bound = false;
    while (words >> word) {
        if (word == "string")
            return; // free text to the end of the line
        std::string value;
        if (word == "depth" && words >> value) {
            found.depth = number_of(value).value_or(0);
        } else if (word == "nodes" && words >> value) {
            found.nodes = number_of(value).value_or(0);
        } else if (word == "time" && words >> value) {
            found.time_ms = number_of(value).value_or(0);
        } else if (word == "score" && words >> value) {
            std::string amount;
            if ((value == "cp" || value == "mate") && words >> amount) {
                if (const std::optional<std::int64_t> n = number_of(amount)) {
                    found.mate = value == "mate";
                    found.score = *n;
                    exact = true;
                }
            }
        } else if (word == "lowerbound" || word == "upperbound") {
            bound = true;
        } else if (word == "pv") {
            break; // moves to the end of the line
        }
    }
    if (exact && !bound) {
        found.scored = true;
        report = found;
    }
}

std::string go_line(const SearchLimits& limits, std::string_view move) {
    std::string line = "go";
    if (limits.depth)
        line += " depth " + std::to_string(*limits.depth);
    if (limits.movetime_ms)
        line += " movetime " + std::to_string(*limits.movetime_ms);
    if (!move.empty()) {
        line += " searchmoves ";
        line += move;
    }
    return line;
}

std::string_view bestmove_of(std::string_view line) {
    line.remove_prefix(std::min(line.size(), std::string_view("bestmove").size()));
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return {};
    line.remove_prefix(start);
    return line.substr(0, line.find(' '));
}

std::string find_program(std::string_view name, const char* path) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string_view::npos)
        return std::string(name);
    std::string_view dirs = path != nullptr ? path : "";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + std::string(name);
        struct stat status {};
        if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::int64_t recorded_score(const SearchReport& report) {
    if (!report.mate)
        return report.score;
    const std::int64_t moves = report.score < 0 ? -report.score : report.score;
    const std::int64_t mate = MATE - std::min(moves, MATE);
    // "mate 0" and negative counts: the side to move is mated.
    return report.score > 0 ? mate : -mate;
}

Engine::Engine(Engine&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), to_engine_(std::exchange(other.to_engine_, -1)),
      from_engine_(std::exchange(other.from_engine_, -1)), reaped_(other.reaped_),
      wait_status_(other.wait_status_), buffer_(std::move(other.buffer_)),
      failure_(std::move(other.failure_)), interrupt_fd_(other.interrupt_fd_),
      interrupted_(other.interrupted_) {}

Engine::~Engine() { stop(std::chrono::milliseconds(200)); }

bool Engine::start(const std::string& program, std::string& why) {
    std::array<int, 2> to_child{-1, -1};
    std::array<int, 2> from_child{-1, -1};
    std::array<int, 2> report{-1, -1};
    if (::pipe2(to_child.data(), O_CLOEXEC) != 0 || ::pipe2(from_child.data(), O_CLOEXEC) != 0 ||
        ::pipe2(report.data(), O_CLOEXEC) != 0) {
        why = "cannot make pipes: " + errno_text(errno);
        for (std::array<int, 2>* pipe : {&to_child, &from_child, &report})
            for (int& fd : *pipe)
                close_fd(fd);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        exec_engine(program, to_child[0], from_child[1], report[1], parent);
    const int fork_error = errno;
    close_fd(to_child[0]);
    close_fd(from_child[1]);
    close_fd(report[1]);
    if (pid < 0) {
        why = "cannot start a process: " + errno_text(fork_error);
        close_fd(to_child[1]);
        close_fd(from_child[0]);
        close_fd(report[0]);
        return false;
    }
    pid_ = pid;
    reaped_ = false;
    to_engine_ = to_child[1];
    from_engine_ = from_child[0];
    ::fcntl(from_engine_, F_SETFL, ::fcntl(from_engine_, F_GETFL) | O_NONBLOCK);

    // The report pipe closes on a successful exec, or carries its errno.
    int error = 0;
    ssize_t got = 0;
    do
        got = ::read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close_fd(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        why = "cannot run it: " + errno_text(error);
        stop(std::chrono::milliseconds(0));
        return false;
    }
    return true;
}

bool Engine::send(std::string_view line, std::string& why) {
    std::string text(line);
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(to_engine_, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            why = errno == EPIPE ? how_it_ended() : "cannot write to it: " + errno_text(errno);
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool Engine::has_line() const { return buffer_.find('\n') != std::string::npos; }

void Engine::take_output() {
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t got = ::read(from_engine_, chunk.data(), chunk.size());
        if (got > 0) {
            buffer_.append(chunk.data(), static_cast<std::size_t>(got));
            if (buffer_.size() > LONGEST_LINE && !has_line()) {
                failure_ = "printed a line of more than 1 MiB";
                return;
            }
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got < 0) {
            failure_ = "cannot read from it: " + errno_text(errno);
            return;
        }
        // The end of its output: it has ended, or is about to.
        reap_soon();
        failure_ = reaped_ ? describe_status(wait_status_) : "closed its output";
        return;
    }
}

bool Engine::next_line(std::string& line) {
    const std::size_t end = buffer_.find('\n');
    if (end == std::string::npos)
        return false;
    line.assign(buffer_, 0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    buffer_.erase(0, end + 1);
    return true;
}

bool Engine::read_line(std::string& line, Clock::time_point deadline, std::string& why) {
    std::vector<Engine*> self{this};
    while (!next_line(line)) {
        if (failed()) {
            why = failure_;
            return false;
        }
        if (!wait_for_output(self, deadline, interrupt_fd_, interrupted_) && !has_line() && !failed()) {
            why = interrupted_ ? "interrupted" : "timed out";
            return false;
        }
    }
    return true;
}

bool Engine::await(std::string_view word, Clock::time_point deadline, std::string& why,
                   std::vector<std::string>* seen) {
    std::string line;
    while (read_line(line, deadline, why)) {
        if (first_word(line) == word)
            return true;
        if (seen != nullptr)
            seen->push_back(line);
    }
    return false;
}

bool Engine::handshake(const std::vector<std::pair<std::string, std::string>>& options,
                       Clock::duration wait, std::string& why) {
    return begin_handshake(why) && finish_handshake(options, wait, why);
}

bool Engine::begin_handshake(std::string& why) { return send("uci", why); }

bool Engine::finish_handshake(const std::vector<std::pair<std::string, std::string>>& options,
                              Clock::duration wait, std::string& why) {
    const auto seconds = std::chrono::duration_cast<std::chrono::duration<double>>(wait).count();
    const auto late = [&](const char* asked, const char* answer) {
        if (why == "timed out") {
            std::ostringstream text;
            text << "did not answer '" << asked << "' with '" << answer << "' within " << seconds << " s";
            why = text.str();
        }
        return false;
    };
    if (!await("uciok", Clock::now() + wait, why))
        return late("uci", "uciok");
    for (const auto& [name, value] : options)
        if (std::string line = "setoption name "; !send(line.append(name).append(" value ").append(value), why))
            return false;
    if (!send("isready", why))
        return false;
    if (!await("readyok", Clock::now() + wait, why))
        return late("isready", "readyok");
    return true;
}

void Engine::stop(Clock::duration grace) {
    if (pid_ < 0) {
        close_fd(to_engine_);
        close_fd(from_engine_);
        return;
    }
    if (!reaped_ && to_engine_ >= 0) {
        static constexpr std::string_view QUIT = "quit\n";
        [[maybe_unused]] const ssize_t put = ::write(to_engine_, QUIT.data(), QUIT.size());
    }
    close_fd(to_engine_);
    const Clock::time_point deadline = Clock::now() + grace;
    while (!reaped_) {
        const pid_t done = ::waitpid(pid_, &wait_status_, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            reaped_ = true;
            break;
        }
        if (Clock::now() >= deadline) {
            // The whole group: whatever the engine started goes too.
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
            }
            reaped_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close_fd(from_engine_);
    pid_ = -1;
}

void Engine::reap_soon() {
    for (int k = 0; k < 50 && !reaped_ && pid_ >= 0; ++k) {
        if (::waitpid(pid_, &wait_status_, WNOHANG) == pid_)
            reaped_ = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string Engine::how_it_ended() {
    reap_soon();
    return reaped_ ? describe_status(wait_status_) : "stopped reading its input";
}

bool wait_for_output(std::vector<Engine*>& engines, Clock::time_point deadline, int interrupt_fd,
                     bool& interrupted) {
    interrupted = false;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        for (Engine* engine : engines) {
            if (engine->has_line() || engine->failed())
                return true;
            fds.push_back({engine->from_engine_, POLLIN, 0});
        }
        if (interrupt_fd >= 0)
            fds.push_back({interrupt_fd, POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return false;
        if (interrupt_fd >= 0 && fds.back().revents != 0) {
            interrupted = true;
            return false;
        }
        for (std::size_t k = 0; k < engines.size(); ++k)
            if (fds[k].revents != 0)
                engines[k]->take_output();
    }
}

} // namespace tavrik
