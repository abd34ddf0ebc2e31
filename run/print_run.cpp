// The entry and the print run.
#include <algorithm>
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
    "       tavrik [--pgn] [--game N] [--flip] [--player NAME] [--layout 3x6|2x3] file [start [end] ]\n"
    "       tavrik --to-record [--game N] file.pgn\n"
    "       tavrik --worksheet [--level inaccuracy|mistake|blunder] [--player NAME] [--game N] file.pgn\n"
    "Writes a PostScript page body of diagram sheets, one board per half-move,\n"
    "from white's move start up to, not including, white's move end. A record's\n"
    "captions give move number, move, score and time as recorded; a PGN game's read\n"
    "as a book's, \"12. Nf3!? += +0.35 1:05\": the move, its marks, the evaluation\n"
    "from white's view and the time spent, each only where the game gives it. Its\n"
    "comments stand under their boards, or with its variations in notes after them.\n"
    "  file            a record, or PGN when its name ends in .pgn; - is standard input\n"
    "  --pgn           read the file as PGN whatever its name\n"
    "  --game N        only the Nth game of a PGN file\n"
    "  --flip          draw every board from black's side\n"
    "  --player NAME   draw each game from the side of the player named NAME (any case;\n"
    "                  a record's players are its first line's \"White - Black, ...\")\n"
    "  --layout 2x3    six larger diagrams a page, two a row; 3x6 (the default) is 18\n"
    "  --to-record     write one game of a PGN file as a record instead\n"
    "  --worksheet     a worksheet of the positions before the moves marked ? or ?? in\n"
    "                  an annotated PGN file, six a page, with the answers after them\n"
    "  --level L       the worksheet's moves: inaccuracy (?! too), mistake, blunder (?? only)\n"
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
    ViewArgs view;
    bool worksheet = false;
    MistakeLevel level = MistakeLevel::MISTAKE;
    std::vector<const char*> words; // file, start, end
};

// The value of an option written "--name value" or "--name=value";
// nullptr when it has none.
const char* option_value(std::string_view arg, std::string_view name, int argc, const char* const argv[],
                         int& k) {
    if (arg == name)
        return k + 1 < argc ? argv[++k] : nullptr;
    return argv[k] + name.size() + 1;
}

bool names_option(std::string_view arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=');
}

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
        } else if (arg == "--flip") {
            options.view.flip = true;
        } else if (names_option(arg, "--player")) {
            const char* value = option_value(arg, "--player", argc, argv, k);
            if (value == nullptr || *value == '\0')
                return "--player needs a name";
            options.view.player = value;
        } else if (names_option(arg, "--layout")) {
            const char* value = option_value(arg, "--layout", argc, argv, k);
            const std::string_view layout = value != nullptr ? value : "";
            if (layout != "3x6" && layout != "2x3")
                return "--layout takes 3x6 or 2x3, not '" + std::string(layout) + "'";
            options.view.layout = layout == "2x3" ? Layout::GRID_2X3 : Layout::GRID_3X6;
        } else if (arg == "--worksheet") {
            options.worksheet = true;
        } else if (names_option(arg, "--level")) {
            const char* value = option_value(arg, "--level", argc, argv, k);
            const std::string_view level = value != nullptr ? value : "";
            if (level != "inaccuracy" && level != "mistake" && level != "blunder")
                return "--level takes inaccuracy, mistake or blunder, not '" + std::string(level) + "'";
            options.level = level == "inaccuracy" ? MistakeLevel::INACCURACY
                            : level == "mistake"  ? MistakeLevel::MISTAKE
                                                  : MistakeLevel::BLUNDER;
        } else if (names_option(arg, "--game")) {
            const char* value = option_value(arg, "--game", argc, argv, k);
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
    if (options.worksheet)
        return print_worksheet_run(file, name, WorksheetArgs{options.game, options.view.player, options.level}, out,
                                   err);
    if (options.pgn)
        return print_pgn_run(file, name, PgnArgs{range, options.game, options.view}, out, err);
    return print_run(file, name, range, out, err, options.view);
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

bool seen_from_black(std::string_view white, std::string_view black, const ViewArgs& view) {
    if (!view.player)
        return view.flip;
    return !holds_name(white, *view.player) && holds_name(black, *view.player);
}

int print_run(std::FILE* record, const char* record_name, const RangeArgs& args,
              std::FILE* out, std::FILE* err, const ViewArgs& view) {
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
    page.layout = view.layout;
    Output output(out);
    begin_sheet(output, view.layout);
    const HeaderFields players = header_fields(table);
    if (seen_from_black(players.white, players.black.value_or(""), view))
        write_view(true, output);
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
    if (options.worksheet && (options.to_record || given > 1))
        return usage_error(out, err, "--worksheet takes a PGN file and no move numbers");
    options.pgn = options.pgn || options.to_record || options.worksheet || is_pgn_name(name);
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
