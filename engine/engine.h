// UCI chess engines as child processes: starting them, the handshake,
// searches of one move each, and stopping them.
//
// This part speaks UCI and nothing else: positions are FEN texts and
// moves coordinate text, as UCI writes them. Every wait has a deadline,
// and an engine that fails (does not start, exits, crashes, hangs, or
// does not answer as UCI says) comes back as a failure with its reason.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrik {

using Clock = std::chrono::steady_clock;

// What an engine reported of its search: the last exact score (bounds are
// passed over) with the depth, nodes and time of the same info line.
struct SearchReport {
    bool scored = false;
    bool mate = false;     // score is a mate in moves, else centipawns
    std::int64_t score = 0; // from the view of the side to move
    std::int64_t depth = 0;
    std::int64_t nodes = 0;
    std::int64_t time_ms = 0;
    std::string bestmove; // of the "bestmove" line, once it came
};

// Takes one line an engine printed during a search into the report: an
// "info" line with an exact "score cp" or "score mate" replaces what the
// report held; bounds, "info string" and anything else leave it.
void read_info_line(std::string_view line, SearchReport& report);

struct SearchLimits {
    std::optional<std::int64_t> depth;
    std::optional<std::int64_t> movetime_ms;
};

// The "go" line for one move: depth and movetime as given, and
// "searchmoves" last, since the engine takes every word after it for a
// move; without a move, a search of them all.
std::string go_line(const SearchLimits& limits, std::string_view move);

// The move of a "bestmove" line: "bestmove e2e4 ponder e7e5" gives e2e4.
std::string_view bestmove_of(std::string_view line);

// The program to run for `name`: a name with a '/' as it stands, else
// the first executable of that name on PATH. Empty when there is none.
std::string find_program(std::string_view name, const char* path);

// One engine process, its pipes and what it has said. Owned by one
// caller; not copyable. Destroying it stops the process.
class Engine {
public:
    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    Engine(Engine&& other) noexcept;
    Engine& operator=(Engine&&) = delete;
    ~Engine();

    // Starts the program with no arguments in a process group of its
    // own (so that a terminal's Ctrl-C reaches only us), to be killed if
    // we die. False, with why, if it cannot be run.
    bool start(const std::string& program, std::string& why);

    // Makes the waits of read_line, await and handshake end early, with
    // interrupted() true, once interrupt_fd becomes readable.
    void watch(int interrupt_fd) { interrupt_fd_ = interrupt_fd; }
    [[nodiscard]] bool interrupted() const { return interrupted_; }

    // "uci" up to "uciok", the options, then "isready" up to "readyok",
    // each answer awaited for at most `wait`. Engines that start slowly
    // can be started together: begin_handshake sends "uci" alone, and
    // finish_handshake does the rest.
    bool handshake(const std::vector<std::pair<std::string, std::string>>& options,
                   Clock::duration wait, std::string& why);
    bool begin_handshake(std::string& why);
    bool finish_handshake(const std::vector<std::pair<std::string, std::string>>& options,
                          Clock::duration wait, std::string& why);

    // Sends one line (a newline is added).
    bool send(std::string_view line, std::string& why);

    // The next line the engine prints, waiting until the deadline. False
    // at the deadline, at the end of its output, or on an error, with why.
    bool read_line(std::string& line, Clock::time_point deadline, std::string& why);

    // Reads lines until one whose first word is `word`; false as
    // read_line. Lines before it go to `seen` when it is given.
    bool await(std::string_view word, Clock::time_point deadline, std::string& why,
               std::vector<std::string>* seen = nullptr);

    // Takes the next whole line already read, if there is one.
    bool next_line(std::string& line);

    // Whether the engine's output has ended or failed, and why.
    [[nodiscard]] bool failed() const { return !failure_.empty(); }
    [[nodiscard]] const std::string& failure() const { return failure_; }

    // "quit", then a kill after the grace period, and the process reaped.
    // Safe to call more than once, and on an engine that never started.
    void stop(Clock::duration grace);

    // How the process ended, for a message: "exited with status 3",
    // "was killed by signal 11"; reaps it if it has ended.
    std::string how_it_ended();

    [[nodiscard]] pid_t pid() const { return pid_; }

private:
    friend bool wait_for_output(std::vector<Engine*>& engines, Clock::time_point deadline,
                                int interrupt_fd, bool& interrupted);
    [[nodiscard]] bool has_line() const;
    // Reads what is there to read without waiting; notes a failure.
    void take_output();
    // Reaps the process if it ends within about 0.1 s.
    void reap_soon();

    pid_t pid_ = -1;
    int to_engine_ = -1;
    int from_engine_ = -1;
    bool reaped_ = false;
    int wait_status_ = 0;
    std::string buffer_;
    std::string failure_;
    int interrupt_fd_ = -1;
    bool interrupted_ = false;
};

// Waits until one of the engines has a whole line to read or has failed,
// the deadline passes (false), or interrupt_fd, when not -1, becomes
// readable (false, with interrupted set).
bool wait_for_output(std::vector<Engine*>& engines, Clock::time_point deadline, int interrupt_fd,
                     bool& interrupted);

// The score from the side to move's view as tavrik records it: centipawns,
// a mate in n as 100000 - n, a mate against as -(100000 - n).
std::int64_t recorded_score(const SearchReport& report);

} // namespace tavrik
