// tavrik-analyse: the numbers of every move of a game from UCI engines.
//
// The game is replayed first and every move worth a search becomes a task:
// the position before it as FEN and the move as UCI text. Engines take
// tasks in turn, each searching every move of its position; one thread
// polls them all. The output is written only once every task has its answer.
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
    "                      [--pgn] [--game N] [--pgn-out | --annotate] [--summary] [--progress]\n"
    "                      [--option NAME=VALUE]... file\n";

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
    "  --annotate         write the game as PGN with all it held, each move's [%eval], and the\n"
    "                     engine's best move beside each inaccuracy ($6), mistake ($2), blunder ($4)\n"
    "  --summary          each side's inaccuracies, mistakes, blunders and average centipawn loss,\n"
    "                     on standard error\n"
    "  --progress         show progress on standard error even when it is no terminal\n"
    "  --option NAME=VALUE  a UCI option for every engine (Threads is 1 unless given)\n"
    "  --help, --version\n";

struct AnalyseOptions {
    std::string engine;
    EngineSchedule schedule{{}, 0, 10, {}};
    bool pgn = false;
    std::optional<std::int64_t> game;
    bool pgn_out = false;
    bool annotate = false;
    bool summary = false;
    bool progress = false;
    std::string file;
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
            options.schedule.limits.depth = n;
        } else if (arg == "--movetime") {
            wrong = number("--movetime", 1, n);
            options.schedule.limits.movetime_ms = n;
        } else if (arg == "--jobs") {
            wrong = number("--jobs", 1, n);
            options.schedule.jobs = n;
        } else if (arg == "--timeout") {
            wrong = number("--timeout", 1, n);
            options.schedule.timeout_s = static_cast<double>(n);
        } else if (arg == "--game") {
            wrong = number("--game", 1, n);
            options.game = n;
        } else if (arg == "--pgn") {
            options.pgn = true;
        } else if (arg == "--pgn-out") {
            options.pgn_out = true;
        } else if (arg == "--annotate") {
            options.annotate = true;
        } else if (arg == "--summary") {
            options.summary = true;
        } else if (arg == "--progress") {
            options.progress = true;
        } else if (arg == "--option") {
            const char* text = value();
            const std::string_view setting = text != nullptr ? text : "";
            const std::size_t equals = setting.find('=');
            if (equals == std::string_view::npos || equals == 0)
                return "--option takes NAME=VALUE";
            options.schedule.uci_options.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
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

// Shows how far the work is, on one line that rewrites itself.
class Progress {
public:
    Progress(std::FILE* err, bool shown) : err_(err), shown_(shown), started_(Clock::now()) {}

    // Searches done of those known so far.
    void update(std::size_t done, std::size_t total) {
        if (!shown_)
            return;
        total_ = total;
        const double elapsed =
            std::chrono::duration_cast<std::chrono::duration<double>>(Clock::now() - started_).count();
        std::string left = "?";
        if (done > 0) {
            const auto seconds = static_cast<long long>(std::lround(elapsed / static_cast<double>(done) *
                                                                    static_cast<double>(total_ - done)));
            left = std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
                   std::to_string(seconds % 60);
        }
        std::fprintf(err_, "\rtavrik-analyse: %zu/%zu searches, %s left ", done, total_, left.c_str());
        std::fflush(err_);
    }

    void finish() {
        if (shown_)
            std::fprintf(err_, "\n");
    }

private:
    std::FILE* err_;
    bool shown_;
    std::size_t total_ = 0;
    Clock::time_point started_;
};

// A record's moves have no SAN of their own: it is derived, but for the
// moves not searched, which break the rules and keep their text.
void derive_san(MoveTable& table, const Board& start, const std::vector<bool>& searched) {
    Board board = start;
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        const HalfMove& half_move = table.at(i);
        table.san.push_back(searched[static_cast<std::size_t>(i - table.first)]
                                ? san_of(board, move_of(half_move.move, half_move.flags))
                                : move_text_of(table, i));
        replay_half_move(board, table, i);
    }
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
    if (!options.schedule.limits.depth && !options.schedule.limits.movetime_ms)
        options.schedule.limits.depth = 16;
    if (options.schedule.jobs == 0)
        options.schedule.jobs = std::max<long>(1, ::sysconf(_SC_NPROCESSORS_ONLN));
    if (options.annotate && options.pgn_out)
        return usage(err, "--annotate and --pgn-out write the game in two ways; choose one");
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
        read = read_one_pgn_game(file, name, options.game, game, err, "tavrik-analyse", options.annotate);
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
        options.schedule.uci_options.emplace_back("UCI_Chess960", "true");

    std::vector<Task> tasks = tasks_of(table, start, !pgn, name, err);
    if ((options.pgn_out || options.annotate) && !pgn && static_cast<std::int64_t>(tasks.size()) != table.count()) {
        std::fprintf(err, "tavrik-analyse: %s: a record with moves that break the rules has no PGN form\n",
                     name);
        return 1;
    }
    if (const int signal = interruption(interrupt_fd); signal != 0)
        return 128 + signal;
    // Every move of each position; a move played that was not the best is
    // scored by the search of the position it leads to, where there is one.
    const std::size_t positions = tasks.size();
    for (Task& task : tasks)
        task.best = true;
    std::vector<SearchReport> reports;
    Progress progress(err, options.progress || ::isatty(::fileno(err)) != 0);
    if (const std::optional<Failure> failure =
            run_tasks(options.schedule, program, tasks, reports, interrupt_fd,
                      [&progress](std::size_t done, std::size_t total) { progress.update(done, total); })) {
        progress.finish();
        if (failure->signal != 0)
            return 128 + failure->signal;
        std::fprintf(err, "tavrik-analyse: %s\n", failure->text.c_str());
        return 1;
    }
    progress.finish();
    if (const int signal = interruption(interrupt_fd); signal != 0)
        return 128 + signal;

    std::vector<MoveVerdict> verdicts(static_cast<std::size_t>(table.count()));
    std::vector<bool> searched(static_cast<std::size_t>(table.count()), false);
    for (HalfMove& half_move : table.half_moves)
        half_move.score = half_move.number2 = half_move.number3 = half_move.time = 0;
    const std::vector<SearchReport> played = played_reports(tasks, reports);
    for (std::size_t p = 0; p < positions; ++p) {
        const auto k = static_cast<std::size_t>(tasks[p].index - table.first);
        MoveVerdict& verdict = verdicts[k];
        const SearchReport& best = reports[p];
        verdict.searched = true;
        verdict.score = recorded_score(played[p]);
        verdict.depth = played[p].depth;
        verdict.best_score = recorded_score(best);
        verdict.best_depth = best.depth;
        verdict.best = best.bestmove;
        verdict.level = classify_move(verdict.best_score, verdict.score);
        HalfMove& half_move = table.half_moves[k];
        half_move.score = verdict.score;
        half_move.number2 = played[p].depth;
        half_move.number3 = played[p].nodes;
        half_move.time = played[p].time_ms;
        searched[k] = true;
    }
    if (options.summary) {
        SideSummary sides[2];
        summarise(verdicts, table.first, sides);
        const std::vector<Tag> tags = pgn ? game.tags : tags_for_record(table);
        for (const Colour side : {WHITE, BLACK}) {
            const SideSummary& summary = sides[side];
            std::string who;
            for (const Tag& tag : tags)
                if (tag.name == (side == WHITE ? "White" : "Black"))
                    who = tag.value;
            std::fprintf(err, "tavrik-analyse: %s (%s): %s, average centipawn loss %lld\n", who.c_str(),
                         side == WHITE ? "White" : "Black", counts_text(summary.counts).c_str(),
                         static_cast<long long>(summary.moves == 0 ? 0 : summary.loss / summary.moves));
        }
    }

    Output output(out);
    if (options.annotate) {
        if (!pgn)
            derive_san(table, start, searched);
        write_annotated_pgn(pgn ? game.tags : tags_of_headers(table), pgn ? &game : nullptr,
                            pgn ? game.result : (table.headers.size() > 1 ? table.headers[1] : "*"), start, table,
                            verdicts, output);
    } else if (options.pgn_out) {
        if (!pgn)
            derive_san(table, start, searched);
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
