// The entry and the print run.
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "position/position.h"
#include "record/record.h"
#include "run/run.h"
#include "sheet/sheet.h"
#include "threads/threads.h"

namespace tavrik {

namespace {

constexpr const char* USAGE = "Usage: tavrik file [start [end] ] \n";

constexpr const char* HELP =
    "Usage: tavrik file [start [end] ] \n"
    "       tavrik [--pgn] [--game N] file [start [end] ]\n"
    "       tavrik --to-record [--game N] file.pgn\n"
    "Writes a PostScript page body of diagram sheets, one board per half-move,\n"
    "from white's move start up to, not including, white's move end.\n"
    "  file          a record, or PGN when its name ends in .pgn; - is standard input\n"
    "  --pgn         read the file as PGN whatever its name\n"
    "  --game N      only the Nth game of a PGN file\n"
    "  --to-record   write one game of a PGN file as a record instead\n"
    "  --help, --version\n";

int write_message(std::string_view text, std::FILE* out, std::FILE* err, int status) {
    Output output(out);
    put_text(output, text);
    const int written = finish_output(output, err);
    return written != 0 ? written : status;
}

int usage_error(std::FILE* out, std::FILE* err, const std::string& why) {
    std::fprintf(err, "tavrik: %s\n", why.c_str());
    return write_message(USAGE, out, err, 1);
}

struct Options {
    bool pgn = false;
    bool to_record = false;
    bool help = false;
    std::optional<std::int64_t> game;
    std::vector<const char*> words; // file, start, end
};

// Options may stand anywhere; "-", "-3" and anything after "--" are words.
// Returns an empty string, or what is wrong.
std::string parse_options(int argc, const char* const argv[], Options& options) {
    bool words_only = false;
    for (int k = 1; k < argc; ++k) {
        const std::string_view arg = argv[k];
        if (words_only || arg.size() < 2 || arg.substr(0, 2) != "--") {
            options.words.push_back(argv[k]);
        } else if (arg == "--") {
            words_only = true;
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--pgn") {
            options.pgn = true;
        } else if (arg == "--to-record") {
            options.to_record = true;
        } else if (arg == "--game" || arg.substr(0, 7) == "--game=") {
            const char* value = arg == "--game" ? (k + 1 < argc ? argv[++k] : nullptr) : argv[k] + 7;
            if (value == nullptr)
                return "--game needs a game number";
            char* end = nullptr;
            errno = 0;
            const long long n = std::strtoll(value, &end, 10);
            if (end == value || *end != '\0' || n < 1 || errno != 0)
                return std::string("--game takes a game number from 1, not '") + value + "'";
            options.game = n;
        } else {
            return std::string("unknown option '") + argv[k] + "'";
        }
    }
    return {};
}

int run_on(std::FILE* file, const char* name, const Options& options, const RangeArgs& range,
           std::FILE* out, std::FILE* err) {
    if (options.to_record)
        return write_record_run(file, name, options.game, out, err);
    if (options.pgn)
        return print_pgn_run(file, name, PgnArgs{range, options.game}, out, err);
    return print_run(file, name, range, out, err);
}

} // namespace

bool is_pgn_name(std::string_view name) {
    if (name.size() < 4)
        return false;
    std::string end(name.substr(name.size() - 4));
    for (char& c : end)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return end == ".pgn";
}

int finish_output(Output& out, std::FILE* err) {
    if (flush_output(out))
        return 0;
    // A failed write must not pass as success.
    std::fprintf(err, "tavrik: write error: %s\n",
                 out.error != 0 ? std::strerror(out.error) : "output failed");
    return 1;
}

std::int64_t index_of_move(std::int64_t move_number) {
    if (move_number <= 0)
        return 0;
    if (move_number > std::numeric_limits<std::int64_t>::max() / 2)
        return std::numeric_limits<std::int64_t>::max();
    return 2 * move_number - 1;
}

HalfMoveRange half_move_range(const RangeArgs& args, std::int64_t count, std::int64_t first) {
    const std::int64_t last = first + count - 1;
    HalfMoveRange range;
    range.start = args.start_move ? index_of_move(*args.start_move) : 0;
    if (range.start < first || range.start > last)
        range.start = first;
    // An explicit end inside the game is exclusive; otherwise the walk
    // covers every half-move read.
    range.end = args.end_move ? index_of_move(*args.end_move) : 0;
    if (range.end <= 0 || range.end > last)
        range.end = last + 1;
    return range;
}

void print_half_move(const MoveTable& table, const HalfMoveRange& range, std::int64_t i,
                     Board& board, PageState& page, Output& out) {
    if (const ReplayFindings findings = replay_half_move(board, table, i); findings != 0)
        write_findings(findings, table, i, out);
    if (i >= range.start)
        write_diagram(page, board, table, i, out);
}

void print_game(const MoveTable& table, const Board& start, const RangeArgs& args, PageState& page,
                Output& out) {
    Board board = start;
    const HalfMoveRange range = half_move_range(args, table.count(), table.first);
    for (std::int64_t i = table.first; i < range.end; ++i)
        print_half_move(table, range, i, board, page, out);
}

int print_run(std::FILE* record, const char* record_name, const RangeArgs& args,
              std::FILE* out, std::FILE* err) {
    MoveTable table;
    // Read before writing anything, so that an unreadable record leaves
    // standard output empty.
    if (const int error = read_record_file(record, table); error != 0) {
        std::fprintf(err, "tavrik: %s: %s\n", record_name, std::strerror(error));
        return 1;
    }

    Board start;
    setup_board(start);
    PageState page;
    Output output(out);
    begin_sheet(output);
    // Two threads gain only on a long walk: each replays the other's
    // stretches, and the second starts and stops.
    constexpr std::int64_t SHORTEST_SHARED_WALK = 8192;
    const HalfMoveRange range = half_move_range(args, table.count(), table.first);
    if (range.end - table.first >= SHORTEST_SHARED_WALK && usable_cpus() >= 2)
        print_game_on_two_threads(table, start, args, page, output);
    else
        print_game(table, start, args, page, output);
    end_sheet(page, output);
    return finish_output(output, err);
}

int tavrik_main(int argc, const char* const argv[], std::FILE* in, std::FILE* out,
                std::FILE* err) {
    if (argc == 2 && std::string_view(argv[1]) == "--version")
        return write_message("tavrik " TAVRIK_VERSION "\n", out, err, 0);
    Options options;
    if (const std::string wrong = parse_options(argc, argv, options); !wrong.empty())
        return usage_error(out, err, wrong);
    if (options.help)
        return write_message(HELP, out, err, 0);
    const std::size_t given = options.words.size();
    if (given < 1 || given > 3 || (options.to_record && given > 1))
        return write_message(USAGE, out, err, 1);

    const std::string_view name = options.words[0];
    options.pgn = options.pgn || options.to_record || is_pgn_name(name);
    if (options.game && !options.pgn)
        return usage_error(out, err, "--game chooses a game of a PGN file");

    RangeArgs range;
    if (given >= 2)
        range.start_move = parse_decimal(options.words[1]);
    if (given == 3)
        range.end_move = parse_decimal(options.words[2]);

    if (name == "-")
        return run_on(in, "standard input", options, range, out, err);
    std::FILE* file = std::fopen(options.words[0], "r");
    if (file == nullptr) {
        std::fprintf(err, "tavrik: %s: %s\n", options.words[0], std::strerror(errno));
        return 1;
    }
    const int status = run_on(file, options.words[0], options, range, out, err);
    std::fclose(file);
    return status;
}

} // namespace tavrik
