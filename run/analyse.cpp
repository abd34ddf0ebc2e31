// tavrik-analyse: the numbers of every move of a game from UCI engines.
//
// The game is replayed first and every move worth a search becomes a task:
// the position before it as FEN and the move as UCI text. Engines take
// tasks in turn, each searching only the move played; one thread polls
// them all. The output is written only once every task has its answer.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"
#include "run/run.h"
#include "sheet/sheet.h"

namespace tavrik {

namespace {

constexpr const char* ANALYSE_USAGE =
    "Usage: tavrik-analyse [--engine PROGRAM] [--depth N] [--movetime MS] [--jobs N] [--timeout S]\n"
    "                      [--pgn] [--game N] [--pgn-out] [--progress] [--option NAME=VALUE]... file\n";

constexpr const char* ANALYSE_HELP =
    "Writes a game with every move's score, depth, nodes and time from a UCI engine:\n"
    "as a tavrik record, or as PGN with --pgn-out.\n"
    "  file               a record, or PGN when its name ends in .pgn; - is standard input\n"
    "  --engine PROGRAM   the engine (default: stockfish on PATH, else /usr/games/stockfish)\n"
    "  --depth N          search each move to depth N (default 16 without --movetime)\n"
    "  --movetime MS      search each move for MS milliseconds (with --depth: whichever ends first)\n"
    "  --jobs N           run N engines side by side (default: the number of cores)\n"
    "  --timeout S        seconds to wait for each answer of an engine (default 10)\n"
    "  --pgn, --game N    read PGN whatever the name; analyse its Nth game\n"
    "  --pgn-out          write PGN with engine-match comments instead of a record\n"
    "  --progress         show progress on standard error even when it is no terminal\n"
    "  --option NAME=VALUE  a UCI option for every engine (Threads is 1 unless given)\n"
    "  --help, --version\n";

constexpr auto STOP_GRACE = std::chrono::milliseconds(500);

struct AnalyseOptions {
    std::string engine;
    SearchLimits limits;
    std::int64_t jobs = 0;
    double timeout_s = 10;
    bool pgn = false;
    std::optional<std::int64_t> game;
    bool pgn_out = false;
    bool progress = false;
    std::vector<std::pair<std::string, std::string>> uci_options;
    std::string file;
};

// One search to make: half-move `index` of the table.
struct Task {
    std::int64_t index = 0;
    std::string fen;
    std::string move; // UCI: e2e4, e7e8q
    std::string label; // "12... Nf6", for messages
};

std::optional<std::int64_t> whole_number(const char* text, std::int64_t least) {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || n < least)
        return std::nullopt;
    return n;
}

// Returns what is wrong with the command line, empty if nothing.
std::string parse_analyse_options(int argc, const char* const argv[], AnalyseOptions& options,
                                  bool& help) {
    std::vector<const char*> words;
    for (int k = 1; k < argc; ++k) {
        const std::string_view arg = argv[k];
        const auto value = [&]() -> const char* { return k + 1 < argc ? argv[++k] : nullptr; };
        const auto number = [&](const char* name, std::int64_t least, std::int64_t& into) -> std::string {
            const char* text = value();
            const std::optional<std::int64_t> n = text != nullptr ? whole_number(text, least) : std::nullopt;
            if (!n)
                return std::string(name) + " takes a whole number from " + std::to_string(least);
            into = *n;
            return {};
        };
        std::string wrong;
        std::int64_t n = 0;
        if (arg == "--help") {
            help = true;
        } else if (arg == "--engine") {
            const char* text = value();
            if (text == nullptr)
                return "--engine needs a program";
            options.engine = text;
        } else if (arg == "--depth") {
            wrong = number("--depth", 1, n);
            options.limits.depth = n;
        } else if (arg == "--movetime") {
            wrong = number("--movetime", 1, n);
            options.limits.movetime_ms = n;
        } else if (arg == "--jobs") {
            wrong = number("--jobs", 1, n);
            options.jobs = n;
        } else if (arg == "--timeout") {
            wrong = number("--timeout", 1, n);
            options.timeout_s = static_cast<double>(n);
        } else if (arg == "--game") {
            wrong = number("--game", 1, n);
            options.game = n;
        } else if (arg == "--pgn") {
            options.pgn = true;
        } else if (arg == "--pgn-out") {
            options.pgn_out = true;
        } else if (arg == "--progress") {
            options.progress = true;
        } else if (arg == "--option") {
            const char* text = value();
            const std::string_view setting = text != nullptr ? text : "";
            const std::size_t equals = setting.find('=');
            if (equals == std::string_view::npos || equals == 0)
                return "--option takes NAME=VALUE";
            options.uci_options.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
        } else if (arg.size() > 1 && arg[0] == '-' ) {
            return "unknown option '" + std::string(arg) + "'";
        } else {
            words.push_back(argv[k]);
        }
        if (!wrong.empty())
            return wrong;
    }
    if (help)
        return {};
    if (words.size() != 1)
        return words.empty() ? "no file named" : "one file at a time";
    options.file = words[0];
    return {};
}

// The UCI text of a move: coordinates and a lower-case promotion letter.
std::string label_of(const MoveTable& table, std::int64_t i) {
    return std::to_string((i + 1) / 2) + (i % 2 == 0 ? "... " : " ") + move_text_of(table, i);
}

bool is_legal(const Board& board, Move move) {
    const MoveList legal = legal_moves(board);
    return std::find(legal.begin(), legal.end(), move) != legal.end();
}

// The tasks of a game, and a line on err for every move not searched.
// A record's moves are replayed as recorded; beside that board runs the
// position as the rules see it, with castling rights and the en passant
// square, which a move that breaks the rules leaves to what the pieces
// still allow.
std::vector<Task> tasks_of(const MoveTable& table, const Board& start, bool recorded, const char* name,
                           std::FILE* err) {
    std::vector<Task> tasks;
    Board board = start;
    Board rules = start;
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        const Move move = move_of(table.at(i).move, table.at(i).flags);
        if (is_null(move)) {
            std::fprintf(err, "tavrik-analyse: %s: move %s not analysed: a null move is no move to search\n",
                         name, label_of(table, i).c_str());
            play_move(board, move);
            play_move(rules, move);
            continue;
        }
        // Read back from its FEN, the position is checked and its rights
        // pruned as the engine will take them.
        std::string why;
        Board position;
        const bool playable = board_from_fen(fen_of(rules), position, why, rules.chess960);
        const bool legal = playable && (table.at(i).flags & INVALID_BIT) == 0 && is_legal(position, move);
        if (legal)
            tasks.push_back({i, fen_of(position), coordinate_text(code_of(move), flags_of(position, move)),
                             label_of(table, i)});
        const ReplayFindings findings = recorded ? replay_half_move(board, table, i) : 0;
        if (!recorded)
            play_move(board, move);
        if (legal) {
            rules = position;
            play_move(rules, move);
        } else {
            const std::string reason = !playable                       ? why
                                       : (findings & NO_MOVE_NAMED) != 0 ? "the text names no move"
                                       : findings != 0                  ? "the move does not fit the position"
                                                                        : "the move is not legal here";
            std::fprintf(err, "tavrik-analyse: %s: move %s not analysed: %s\n", name,
                         label_of(table, i).c_str(), reason.c_str());
            const unsigned castling = playable ? position.castling : rules.castling;
            const std::int64_t fullmove = rules.fullmove + (rules.side == BLACK ? 1 : 0);
            rules = board;
            rules.castling = castling;
            rules.en_passant = NO_SQUARE;
            rules.fullmove = fullmove;
        }
    }
    return tasks;
}

// "+0.35", "-M3": an engine-match score from the mover's view.
std::string engine_score(std::int64_t score) {
    const std::int64_t magnitude = score < 0 ? -score : score;
    if (magnitude >= 99000 && magnitude <= 100000)
        return std::string(score < 0 ? "-M" : "+M") + std::to_string(100000 - magnitude);
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%s%" PRId64 ".%02" PRId64, score < 0 ? "-" : "+",
                  magnitude / 100, magnitude % 100);
    return text.data();
}

void put_tag(Output& out, std::string_view name, std::string_view value) {
    put_text(out, "[");
    put_text(out, name);
    put_text(out, " \"");
    for (const char c : value) {
        if (c == '"' || c == '\\')
            put_text(out, "\\");
        put_text(out, std::string_view(&c, 1));
    }
    put_text(out, "\"]\n");
}

// The game as PGN: its tags, SAN, and after every searched move an engine
// match's comment with the nodes.
void write_pgn(const std::vector<Tag>& tags, const std::string& result, const MoveTable& table,
               const std::vector<bool>& searched, Output& out) {
    for (const Tag& tag : tags)
        put_tag(out, tag.name, tag.value);
    put_text(out, "\n");
    std::size_t column = 0;
    const auto word = [&](const std::string& text) {
        if (column > 0 && column + 1 + text.size() > 79) {
            put_text(out, "\n");
            column = 0;
        } else if (column > 0) {
            put_text(out, " ");
            ++column;
        }
        put_text(out, text);
        column += text.size();
    };
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        // A move number stays on the line of its move.
        if (i % 2 == 1)
            word(std::to_string((i + 1) / 2) + ". " + move_text_of(table, i));
        else if (i == table.first)
            word(std::to_string(i / 2) + "... " + move_text_of(table, i));
        else
            word(move_text_of(table, i));
        if (!searched[static_cast<std::size_t>(i - table.first)])
            continue;
        const HalfMove& half_move = table.at(i);
        std::array<char, 64> seconds{};
        std::snprintf(seconds.data(), seconds.size(), "%" PRId64 ".%03" PRId64 "s", half_move.time / 1000,
                      half_move.time % 1000);
        std::string comment(1, '{');
        comment += engine_score(half_move.score);
        comment += '/';
        comment += std::to_string(half_move.number2);
        comment += ' ';
        comment += seconds.data();
        comment += " n=";
        comment += std::to_string(half_move.number3);
        comment += '}';
        word(comment);
    }
    word(result.empty() ? "*" : result);
    put_text(out, "\n");
}

// The seven tags every PGN game has, for a game read from a record.
std::vector<Tag> tags_for_record(const MoveTable& table) {
    return {{"Event", table.headers.empty() ? "?" : table.headers[0]},
            {"Site", "?"},
            {"Date", "????.??.??"},
            {"Round", "?"},
            {"White", "?"},
            {"Black", "?"},
            {"Result", "*"}};
}

// Shows how far the work is, on one line that rewrites itself.
class Progress {
public:
    Progress(std::FILE* err, bool shown, std::size_t total)
        : err_(err), shown_(shown), total_(total), started_(Clock::now()) {}

    void update(std::size_t done) {
        if (!shown_)
            return;
        const double elapsed =
            std::chrono::duration_cast<std::chrono::duration<double>>(Clock::now() - started_).count();
        std::string left = "?";
        if (done > 0) {
            const auto seconds = static_cast<long long>(std::lround(elapsed / static_cast<double>(done) *
                                                                    static_cast<double>(total_ - done)));
            left = std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
                   std::to_string(seconds % 60);
        }
        std::fprintf(err_, "\rtavrik-analyse: %zu/%zu moves, %s left ", done, total_, left.c_str());
        std::fflush(err_);
    }

    void finish() {
        if (shown_)
            std::fprintf(err_, "\n");
    }

private:
    std::FILE* err_;
    bool shown_;
    std::size_t total_;
    Clock::time_point started_;
};

// An engine at work: what it searches, and till when it may.
struct Worker {
    Engine engine;
    std::optional<std::size_t> task;
    bool ready_asked = false;
    Clock::time_point deadline{};
    SearchReport report;
};

struct Failure {
    std::string text;
    int signal = 0; // the signal that interrupted the work, if one did
};

// The signal that the interrupt pipe carries, 0 if none has come.
int interruption(int interrupt_fd) {
    unsigned char signal = 0;
    if (interrupt_fd < 0 || ::read(interrupt_fd, &signal, 1) != 1)
        return 0;
    return signal;
}

// Runs every task on the engines and fills in the reports, in task order.
// Returns the first failure, if any; all engines are stopped either way.
std::optional<Failure> run_tasks(const AnalyseOptions& options, const std::string& program,
                                 const std::vector<Task>& tasks, std::vector<SearchReport>& reports,
                                 int interrupt_fd, Progress& progress) {
    const auto wait = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeout_s));
    const Clock::duration search_wait =
        options.limits.movetime_ms ? std::chrono::milliseconds(*options.limits.movetime_ms) + wait : 60 * wait;
    const std::size_t jobs = std::min<std::size_t>(static_cast<std::size_t>(options.jobs), tasks.size());

    std::vector<std::unique_ptr<Worker>> workers;
    const auto fail = [&](const std::string& text) {
        const bool interrupted = std::any_of(workers.begin(), workers.end(),
                                             [](const auto& worker) { return worker->engine.interrupted(); });
        for (const auto& worker : workers)
            worker->engine.stop(interrupted ? std::chrono::milliseconds(100) : STOP_GRACE);
        if (interrupted)
            return Failure{"interrupted", interruption(interrupt_fd)};
        return Failure{"engine " + program + ": " + text, 0};
    };
    auto settings = options.uci_options;
    const bool threads_given = std::any_of(settings.begin(), settings.end(),
                                           [](const auto& setting) { return setting.first == "Threads"; });
    if (!threads_given)
        settings.insert(settings.begin(), {"Threads", "1"});
    // All start together: an engine takes a while to load.
    for (std::size_t k = 0; k < jobs; ++k) {
        auto worker = std::make_unique<Worker>();
        worker->engine.watch(interrupt_fd);
        std::string why;
        if (!worker->engine.start(program, why))
            return fail(why);
        workers.push_back(std::move(worker));
        if (!workers.back()->engine.begin_handshake(why))
            return fail(why);
    }
    for (const auto& worker : workers) {
        std::string why;
        if (!worker->engine.finish_handshake(settings, wait, why))
            return fail(why);
    }

    std::size_t next = 0;
    std::size_t done = 0;
    std::vector<Engine*> engines;
    engines.reserve(workers.size());
    for (const auto& worker : workers)
        engines.push_back(&worker->engine);
    progress.update(0);
    const auto assign = [&](Worker& worker, std::string& why) {
        worker.task = next++;
        worker.report = {};
        worker.ready_asked = true;
        worker.deadline = Clock::now() + wait;
        // A fresh start for every search: the answer then depends on the
        // position alone, not on which engine searched what before.
        return worker.engine.send("ucinewgame", why) && worker.engine.send("isready", why);
    };
    for (const auto& worker : workers) {
        std::string why;
        if (next < tasks.size() && !assign(*worker, why))
            return fail(why + " (move " + tasks[next - 1].label + ")");
    }

    while (done < tasks.size()) {
        Clock::time_point deadline = Clock::time_point::max();
        for (const auto& worker : workers)
            if (worker->task)
                deadline = std::min(deadline, worker->deadline);
        bool interrupted = false;
        wait_for_output(engines, deadline, interrupt_fd, interrupted);
        if (interrupted) {
            for (const auto& worker : workers)
                worker->engine.stop(std::chrono::milliseconds(100));
            return Failure{"interrupted", interruption(interrupt_fd)};
        }
        for (const auto& worker : workers) {
            if (!worker->task)
                continue;
            const Task& task = tasks[*worker->task];
            std::string line;
            std::string why;
            while (worker->task && worker->engine.next_line(line)) {
                const std::string_view text = line;
                if (worker->ready_asked) {
                    if (text == "readyok" || text.starts_with("readyok ")) {
                        worker->ready_asked = false;
                        worker->deadline = Clock::now() + search_wait;
                        if (!worker->engine.send("position fen " + task.fen, why) ||
                            !worker->engine.send(go_line(options.limits, task.move), why))
                            return fail(why + " (move " + task.label + ")");
                    }
                    continue;
                }
                if (text.starts_with("info ")) {
                    read_info_line(text, worker->report);
                } else if (text == "bestmove" || text.starts_with("bestmove ")) {
                    if (!worker->report.scored)
                        return fail("answered 'bestmove' without a score (move " + task.label + ")");
                    reports[*worker->task] = worker->report;
                    worker->task.reset();
                    progress.update(++done);
                    if (next < tasks.size() && !assign(*worker, why))
                        return fail(why + " (move " + tasks[next - 1].label + ")");
                }
            }
            if (worker->task && worker->engine.failed())
                return fail(worker->engine.failure() + " (move " + tasks[*worker->task].label + ")");
            if (worker->task && Clock::now() >= worker->deadline) {
                const auto seconds = std::chrono::duration_cast<std::chrono::duration<double>>(
                    worker->ready_asked ? wait : search_wait).count();
                std::array<char, 32> text{};
                std::snprintf(text.data(), text.size(), "%g", seconds);
                return fail(std::string(worker->ready_asked ? "did not answer 'isready' within "
                                                            : "gave no 'bestmove' within ") +
                            text.data() + " s (move " + tasks[*worker->task].label + ")");
            }
        }
    }
    for (const auto& worker : workers)
        worker->engine.stop(STOP_GRACE);
    return std::nullopt;
}

int usage(std::FILE* err, const std::string& why) {
    std::fprintf(err, "tavrik-analyse: %s\n%s", why.c_str(), ANALYSE_USAGE);
    return 1;
}

std::string default_engine() {
    std::string found = find_program("stockfish", std::getenv("PATH"));
    if (!found.empty())
        return found;
    return ::access("/usr/games/stockfish", X_OK) == 0 ? "/usr/games/stockfish" : "";
}

} // namespace

int tavrik_analyse_main(int argc, const char* const argv[], std::FILE* in, std::FILE* out,
                        std::FILE* err, int interrupt_fd) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        Output output(out);
        put_text(output, "tavrik-analyse " TAVRIK_VERSION "\n");
        return finish_output(output, err);
    }
    AnalyseOptions options;
    bool help = false;
    if (const std::string wrong = parse_analyse_options(argc, argv, options, help); !wrong.empty())
        return usage(err, wrong);
    if (help) {
        Output output(out);
        put_text(output, ANALYSE_USAGE);
        put_text(output, ANALYSE_HELP);
        return finish_output(output, err);
    }
    if (!options.limits.depth && !options.limits.movetime_ms)
        options.limits.depth = 16;
    if (options.jobs == 0)
        options.jobs = std::max<long>(1, ::sysconf(_SC_NPROCESSORS_ONLN));
    const bool pgn = options.pgn || is_pgn_name(options.file);
    if (options.game && !pgn)
        return usage(err, "--game chooses a game of a PGN file");

    const std::string program = options.engine.empty() ? default_engine()
                                                       : find_program(options.engine, std::getenv("PATH"));
    if (program.empty()) {
        std::fprintf(err, "tavrik-analyse: %s\n",
                     options.engine.empty()
                         ? "no engine found: install Debian's package stockfish, or name one with --engine"
                         : ("engine " + options.engine + " not found on PATH").c_str());
        return 1;
    }

    const char* name = options.file == "-" ? "standard input" : options.file.c_str();
    std::FILE* file = options.file == "-" ? in : std::fopen(options.file.c_str(), "r");
    if (file == nullptr) {
        std::fprintf(err, "tavrik-analyse: %s: %s\n", name, std::strerror(errno));
        return 1;
    }
    MoveTable table;
    Board start;
    PgnGame game;
    int status = 0;
    bool read = true;
    if (pgn) {
        read = read_one_pgn_game(file, name, options.game, game, err, "tavrik-analyse");
        if (read) {
            if (std::string fault; !play_pgn_game(game, start, table, fault)) {
                report_pgn_game(err, name, game, fault, "tavrik-analyse");
                status = 1;
                read = table.count() > 0;
            }
        }
    } else if (const int error = read_record_file(file, table); error != 0) {
        std::fprintf(err, "tavrik-analyse: %s: %s\n", name, std::strerror(error));
        read = false;
        status = 1;
    } else {
        setup_board(start);
    }
    if (file != in)
        std::fclose(file);
    if (!read)
        return 1;
    if (const std::string why = why_no_record(start, table); !options.pgn_out && !why.empty()) {
        std::fprintf(err, "tavrik-analyse: %s: the game %s, which a record cannot hold; use --pgn-out\n", name,
                     why.c_str());
        return 1;
    }
    // The engine then takes castling as the king taking its own rook.
    if (start.chess960)
        options.uci_options.emplace_back("UCI_Chess960", "true");

    const std::vector<Task> tasks = tasks_of(table, start, !pgn, name, err);
    if (options.pgn_out && !pgn && static_cast<std::int64_t>(tasks.size()) != table.count()) {
        std::fprintf(err, "tavrik-analyse: %s: a record with moves that break the rules has no PGN form\n",
                     name);
        return 1;
    }
    if (const int signal = interruption(interrupt_fd); signal != 0)
        return 128 + signal;
    std::vector<SearchReport> reports(tasks.size());
    Progress progress(err, options.progress || ::isatty(::fileno(err)) != 0, tasks.size());
    if (const std::optional<Failure> failure = run_tasks(options, program, tasks, reports, interrupt_fd, progress)) {
        progress.finish();
        if (failure->signal != 0)
            return 128 + failure->signal;
        std::fprintf(err, "tavrik-analyse: %s\n", failure->text.c_str());
        return 1;
    }
    progress.finish();
    if (const int signal = interruption(interrupt_fd); signal != 0)
        return 128 + signal;

    std::vector<bool> searched(static_cast<std::size_t>(table.count()), false);
    for (HalfMove& half_move : table.half_moves)
        half_move.score = half_move.number2 = half_move.number3 = half_move.time = 0;
    for (std::size_t k = 0; k < tasks.size(); ++k) {
        HalfMove& half_move = table.half_moves[static_cast<std::size_t>(tasks[k].index - table.first)];
        half_move.score = recorded_score(reports[k]);
        half_move.number2 = reports[k].depth;
        half_move.number3 = reports[k].nodes;
        half_move.time = reports[k].time_ms;
        searched[static_cast<std::size_t>(tasks[k].index - table.first)] = true;
    }

    Output output(out);
    if (options.pgn_out) {
        if (!pgn) {
            // A record's moves have no SAN of their own: derive it.
            Board board = start;
            for (std::int64_t i = table.first; i < table.end(); ++i) {
                const HalfMove& half_move = table.at(i);
                table.san.push_back(searched[static_cast<std::size_t>(i - table.first)]
                                        ? san_of(board, move_of(half_move.move, half_move.flags))
                                        : move_text_of(table, i));
                replay_half_move(board, table, i);
            }
        }
        write_pgn(pgn ? game.tags : tags_for_record(table), pgn ? game.result : "*", table, searched, output);
    } else if (pgn) {
        write_record(game, table, output);
    } else {
        for (const std::string& header : table.headers) {
            put_text(output, header);
            put_text(output, "\n");
        }
        write_record_moves(table, output);
    }
    const int written = finish_output(output, err);
    return written != 0 ? written : status;
}

} // namespace tavrik
