// Fuzzes one whole run in-process and checks what it produces.
//
// Input layout: the low two bits of the first byte say how many range
// arguments there are (0, 1 or 2; 3 counts as none), the next byte of each
// picks its value from RANGE_VALUES, and the rest is the record, or PGN
// when the first byte's high bit is set. Every input gets fresh state.
//
// Checked beyond survival: the board keeps its invariants after every
// replayed half-move; the step-by-step walk, reading the record as a
// stream, writes what print_run writes reading it as a regular file;
// the run succeeds with nothing on standard error; every output line is
// one the program can write, captions being valid PostScript strings and
// boards exactly 86 characters; the diagrams and pages are as many as the
// range asks for. For PGN besides: every move played is legal, replays
// without findings to the position the rules give, and its SAN names it
// again; titles are valid strings; a game that breaks off is reported.
#include <stdio_ext.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"
#include "run/run.h"
#include "sheet/sheet.h"

namespace {

using namespace tavrik;

constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MIN = std::numeric_limits<std::int64_t>::min();

constexpr std::array<std::int64_t, 16> RANGE_VALUES = {
    0, 1, 2, 3, 5, 10, 21, 42, -1, -7, 256, 1'000'000, MAX, MIN, MAX / 2, MAX / 2 + 1};

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "tavrik_fuzz: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

void check(bool ok, const char* what, std::string_view detail = {}) {
    if (!ok)
        fail(what, detail);
}

// A stream writing into a text in memory, open for the whole session:
// under AddressSanitizer every allocation of a run counts, and opening a
// stream is one. Unbuffered (the program buffers its own output), its
// text is whole once the program has flushed, and it keeps its capacity.
class MemoryStream {
public:
    MemoryStream() {
        file_ = fopencookie(this, "w", {nullptr, &MemoryStream::write, nullptr, nullptr});
        check(file_ != nullptr && std::setvbuf(file_, nullptr, _IONBF, 0) == 0, "fopencookie");
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    ~MemoryStream() { std::fclose(file_); }
    // The stream, emptied for a new run.
    std::FILE* fresh() {
        text_.clear();
        std::clearerr(file_);
        return file_;
    }
    [[nodiscard]] std::string_view text() const { return text_; }

private:
    static ssize_t write(void* cookie, const char* data, std::size_t size) {
        static_cast<MemoryStream*>(cookie)->text_.append(data, size);
        return static_cast<ssize_t>(size);
    }

    std::string text_;
    std::FILE* file_ = nullptr;
};

// The record as a stream to read from, straight from the fuzzer's input
// and through a buffer of its own: fmemopen would copy it and allocate
// twice more. One stream serves the session, as opening one allocates.
class RecordStream {
public:
    RecordStream() {
        file_ = fopencookie(this, "r", {&RecordStream::read, nullptr, nullptr, nullptr});
        check(file_ != nullptr && std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size()) == 0,
              "fopencookie");
    }
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;
    ~RecordStream() { std::fclose(file_); }
    // The stream reading text from its start: what the last reader left
    // in the buffer, when it stopped early, is dropped.
    std::FILE* reading(std::string_view text) {
        __fpurge(file_);
        std::clearerr(file_);
        text_ = text;
        return file_;
    }

private:
    static ssize_t read(void* cookie, char* data, std::size_t size) {
        auto* self = static_cast<RecordStream*>(cookie);
        const std::string_view part = self->text_.substr(0, size);
        std::copy(part.begin(), part.end(), data);
        self->text_.remove_prefix(part.size());
        return static_cast<ssize_t>(part.size());
    }

    std::array<char, BUFSIZ> buffer_{};
    std::string_view text_;
    std::FILE* file_ = nullptr;
};

// The record as a regular file in memory: the reader takes regular files
// in blocks and other streams a line at a time, and the whole run reads
// it this way while the walk reads it as a stream, so that the two
// readers are held to the same sheet. One file serves the session, as
// system calls are dear; the reader reads it by offset and leaves its
// position at the start, or the next run would differ from its walk.
class RegularFile {
public:
    RegularFile() {
        const int fd = memfd_create("record", MFD_CLOEXEC);
        check(fd >= 0, "memfd_create");
        file_ = fdopen(fd, "r");
        check(file_ != nullptr, "fdopen");
    }
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile() { std::fclose(file_); }
    // The file holding text alone: written over the last record, then cut
    // to its length, so that the pages it already has are kept.
    std::FILE* holding(std::string_view text) {
        const int fd = fileno(file_);
        for (std::size_t written = 0; written < text.size();) {
            const ssize_t n = ::pwrite(fd, text.data() + written, text.size() - written,
                                       static_cast<off_t>(written));
            check(n > 0, "writing the record");
            written += static_cast<std::size_t>(n);
        }
        check(::ftruncate(fd, static_cast<off_t>(text.size())) == 0, "cutting the record");
        return file_;
    }

private:
    std::FILE* file_ = nullptr;
};

struct Streams {
    MemoryStream sheet;
    MemoryStream walked;
    MemoryStream complaints;
    RecordStream input;
    RegularFile record;
};
Streams& streams() {
    static Streams open;
    return open;
}

// The letter of each colour and piece, 0 for an empty square with a
// colour or a piece without one.
constexpr std::array<std::array<char, KING + 1>, NO_COLOUR + 1> LETTER = {
    {{0, 'P', 'N', 'B', 'R', 'Q', 'K'}, {0, 'p', 'n', 'b', 'r', 'q', 'k'}, {' ', 0, 0, 0, 0, 0, 0}}};

// A board of legal play has one king a side, whose square it keeps
// exactly; a replayed record may have had more, and then the kept square
// holds a king of that colour or is none.
void check_board(const Board& board, bool legal_play = false) {
    // One pass over the squares: this runs after every half-move played.
    std::array<int, 2> kings{};
    std::array<Square, 2> last{NO_SQUARE, NO_SQUARE};
    for (Square s = 0; s < SQUARE_COUNT; ++s) {
        const auto k = static_cast<std::size_t>(s);
        const Piece piece = board.piece[k];
        const Colour colour = board.colour[k];
        check(piece <= KING && colour <= NO_COLOUR, "square out of range");
        const char letter = LETTER[colour][piece];
        check(letter != 0, "empty square with a colour");
        check(board.letters[letter_index(s)] == letter, "letters out of date");
        if (piece == KING) {
            ++kings[colour];
            last[colour] = s;
        }
    }
    for (std::size_t k = 8; k < LETTERS_SIZE; k += 9)
        check(board.letters[k] == ';', "rank separator lost");
    for (const Colour colour : {WHITE, BLACK}) {
        const Square kept = board.king[colour];
        if (legal_play)
            check(kings[colour] == 1 && kept == last[colour], "king square out of date");
        else if (kings[colour] == 0)
            check(kept == NO_SQUARE, "king square out of date");
        else
            check(kept == NO_SQUARE || (board.piece[static_cast<std::size_t>(kept)] == KING &&
                                        board.colour[static_cast<std::size_t>(kept)] == colour),
                  "king square out of date");
    }
    check((board.side == WHITE && board.opponent == BLACK) ||
              (board.side == BLACK && board.opponent == WHITE),
          "side to move");
}

void check_table(const MoveTable& table) {
    for (std::int64_t i = 1; i <= table.count(); ++i) {
        const HalfMove& half_move = table.at(i);
        if (half_move.flags & INVALID_BIT)
            continue;
        check(is_on_board(from_square(half_move.move)) && is_on_board(to_square(half_move.move)),
              "move off the board");
        if (half_move.flags & PROMOTION_BIT) {
            const int piece = half_move.flags & PROMOTION_PIECE_MASK;
            check(piece >= PAWN && piece <= KING, "promotion to no piece");
        }
    }
}

bool is_printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// The text of a PostScript string: printable, with every parenthesis and
// backslash escaped, so that the string ends where the writer meant.
void check_postscript_string(std::string_view text) {
    check(is_printable(text), "unprintable caption", text);
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\\') {
            check(k + 1 < text.size() && std::string_view("()\\").find(text[k + 1]) != std::string_view::npos,
                  "stray backslash", text);
            ++k;
        } else {
            check(text[k] != '(' && text[k] != ')', "unescaped parenthesis", text);
        }
    }
}

// The letters a square can show, by byte.
constexpr std::array<bool, 256> SQUARE_LETTER = [] {
    std::array<bool, 256> shown{};
    for (const auto& letters : LETTER)
        for (const char c : letters)
            if (c != 0)
                shown[static_cast<unsigned char>(c)] = true;
    return shown;
}();

void check_board_line(std::string_view line) {
    check(line.size() == 86, "board line length", line);
    check(line.substr(0, 6) == "C ('#[" && line.substr(78) == "]') show", "board line frame", line);
    // Eight ranks of eight squares, each rank ended by ';'.
    for (std::size_t rank = 6; rank < 6 + LETTERS_SIZE; rank += 9) {
        for (std::size_t k = rank; k < rank + 8; ++k)
            check(SQUARE_LETTER[static_cast<unsigned char>(line[k])], "board letter", line);
        check(line[rank + 8] == ';', "board rank end", line);
    }
}

void check_finding(std::string_view line) {
    check(line.size() >= 17 && std::string_view("-+?").find(line[13]) != std::string_view::npos &&
              line[14] == ' ' && line.back() == ' ' && is_printable(line),
          "finding line", line);
}

struct SheetCounts {
    std::int64_t captions = 0;
    std::int64_t boards = 0;
    std::int64_t pages = 0;
    std::int64_t titles = 0;
    std::int64_t marks = 0;
    std::int64_t numbers = 0; // E lines
};

// Strings of printable text with escaped parentheses and backslashes and
// octal Latin-1 letters, then a procedure: "(white) (black) (details) T",
// "(words) U", "(1) (12. Nf3) NoteHead".
void check_strings(std::string_view line, int strings, std::string_view procedure) {
    check(line.size() > procedure.size() && line.ends_with(procedure) &&
              line[line.size() - procedure.size() - 1] == ' ',
          "string procedure", line);
    std::string_view rest = line.substr(0, line.size() - procedure.size() - 1);
    for (int k = 0; k < strings; ++k) {
        check(rest.starts_with("("), "title string start", line);
        std::size_t at = 1;
        for (; at < rest.size() && rest[at] != ')'; ++at) {
            check(rest[at] >= ' ' && rest[at] <= '~' && rest[at] != '(', "title text", line);
            if (rest[at] == '\\') {
                ++at;
                const bool octal = at + 2 < rest.size() && rest[at] >= '2' && rest[at] <= '3' &&
                                   rest[at + 1] >= '0' && rest[at + 1] <= '7' &&
                                   rest[at + 2] >= '0' && rest[at + 2] <= '7';
                check(octal || (at < rest.size() && std::string_view("()\\").find(rest[at]) != std::string_view::npos),
                      "title escape", line);
                at += octal ? 2 : 0;
            }
        }
        check(at < rest.size(), "title string end", line);
        rest.remove_prefix(at + 1);
        if (k + 1 < strings) {
            check(rest.starts_with(" "), "title strings apart", line);
            rest.remove_prefix(1);
        }
    }
    check(rest.empty(), "title words", line);
}

// "from to M", both squares on the board.
void check_mark(std::string_view line) {
    const std::size_t space = line.find(' ');
    check(space != std::string_view::npos && line.ends_with(" M"), "mark shape", line);
    for (const std::string_view number : {line.substr(0, space), line.substr(space + 1, line.size() - space - 3)}) {
        check(!number.empty() && number.size() <= 2 &&
                  std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }),
              "mark square", line);
        const int square = number.size() == 1 ? number[0] - '0' : (number[0] - '0') * 10 + (number[1] - '0');
        check(square < SQUARE_COUNT, "mark square", line);
    }
}

// "move black score known time E": numbers and two booleans.
void check_numbers(std::string_view line) {
    std::string_view rest = line.substr(0, line.size() - 2);
    for (int k = 0; k < 5; ++k) {
        const std::size_t space = rest.find(' ');
        const std::string_view word = rest.substr(0, space);
        if (k == 1 || k == 3) {
            check(word == "true" || word == "false", "numbers' flag", line);
        } else {
            const std::string_view digits = word.starts_with('-') ? word.substr(1) : word;
            check(!digits.empty() && digits.size() <= 19 &&
                      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }),
                  "number", line);
        }
        check((space == std::string_view::npos) == (k == 4), "numbers' count", line);
        rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
    }
}

SheetCounts check_sheet(std::string_view sheet) {
    // The lines of every diagram first: a line is compared with those
    // before it of its length, and each mismatch costs a call that the
    // fuzzer also traces.
    constexpr std::array<std::string_view, 9> FIXED = {
        "L V moveto", "L  V 100 sub moveto", "/L 160 L add def", "/V V 120 sub def /L 60 def",
        "showpage", "/V 11 72 mul def /L 60 def", "/V 11 72 mul def", "/L 60 def", "Notes"};
    check(!sheet.empty() && sheet.back() == '\n', "sheet ends without a newline");
    SheetCounts counts;
    while (!sheet.empty()) {
        const std::size_t end = sheet.find('\n');
        const std::string_view line = sheet.substr(0, end);
        sheet.remove_prefix(end + 1);
        // The first letter first: a mismatched comparison costs a call
        // that the fuzzer also traces.
        const char first = line.empty() ? '\0' : line.front();
        if (first == 'R' && line.starts_with("R (")) {
            check(line.ends_with(") show"), "caption end", line);
            check_postscript_string(line.substr(3, line.size() - 9));
            ++counts.captions;
        } else if (first == 'C' && line.starts_with("C (")) {
            check_board_line(line);
            ++counts.boards;
        } else if (first == 'I' && line.starts_with("Illegal move ")) {
            check_finding(line);
        } else if (first == '(') {
            if (line.ends_with(" T")) {
                check_strings(line, 3, "T");
                ++counts.titles;
            } else if (line.ends_with(" NoteHead")) {
                check_strings(line, 2, "NoteHead");
            } else {
                const std::string_view procedure = line.substr(line.rfind(' ') + 1);
                check(procedure == "U" || procedure == "I" || procedure == "NoteText" || procedure == "NoteMore",
                      "string procedure", line);
                check_strings(line, 1, procedure);
            }
        } else if (line.size() >= 2 && line.back() == 'M' && line[line.size() - 2] == ' ') {
            check_mark(line);
            ++counts.marks;
        } else if (line.size() >= 2 && line.back() == 'E' && line[line.size() - 2] == ' ') {
            check_numbers(line);
            ++counts.numbers;
        } else {
            check(std::find(FIXED.begin(), FIXED.end(), line) != FIXED.end(), "unknown line", line);
            counts.pages += line == "showpage" ? 1 : 0;
        }
    }
    return counts;
}

// Move m begins at half-move 2m - 1; the range runs from start's index to
// end's, exclusive, and falls back to the whole record where an index
// lies outside it.
// A game's half-moves are first .. first + count - 1.
struct DrawnRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
};
DrawnRange expected_range(const RangeArgs& args, std::int64_t count, std::int64_t first = 1) {
    const auto index = [](std::optional<std::int64_t> move) -> std::int64_t {
        if (!move || *move <= 0)
            return 0;
        return *move > MAX / 2 ? MAX : 2 * *move - 1;
    };
    const std::int64_t last = first + count - 1;
    std::int64_t start = index(args.start_move);
    if (start < first || start > last)
        start = first;
    std::int64_t end = index(args.end_move);
    if (end < 1 || end > last)
        end = last + 1;
    return {start, std::max(start, end)};
}

std::int64_t expected_diagrams(const RangeArgs& args, std::int64_t count, std::int64_t first = 1) {
    const DrawnRange range = expected_range(args, count, first);
    return range.end - range.start;
}

// Each game checked as the whole run plays it, before its pages are
// written; then the run's status, complaints and sheet.
void fuzz_pgn(std::string_view input, const RangeArgs& args) {
    std::int64_t games = 0;
    std::int64_t faults = 0;
    std::int64_t diagrams = 0;
    std::int64_t marks = 0; // every drawn move but a null move marks its squares
    std::int64_t pages = 0;
    const auto check_game = [&](const PlayedGame& played_game) {
        const MoveTable& table = played_game.table;
        const Board& start = played_game.start;
        ++games;
        faults += played_game.fault.empty() ? 0 : 1;
        check(table.san.size() == table.half_moves.size(), "SAN for every half-move");
        // A refused FEN leaves the start as far as it was built.
        check_board(start, played_game.fault.empty() || table.count() > 0);
        Board replayed = start;
        Board played = start;
        for (std::int64_t i = table.first; i < table.end(); ++i) {
            const Move move = move_of(table.at(i).move, table.at(i).flags);
            const std::string& san = table.san[static_cast<std::size_t>(i - table.first)];
            const SanResolution again = resolve_san(played, san);
            check(again.problem == SanProblem::NONE && again.move == move, "SAN names another move", san);
            check(again.san == san, "SAN not standard", san);
            check(replay_half_move(replayed, table, i) == 0, "legal move with findings", san);
            play_move(played, move);
            // The replayed board, the same as the played one in all that
            // check_board looks at, passes it when that one does.
            check(replayed.piece == played.piece && replayed.colour == played.colour &&
                      replayed.letters == played.letters && replayed.king == played.king &&
                      replayed.side == played.side && replayed.opponent == played.opponent,
                  "replay and rules differ", san);
            check_board(played, true);
        }
        if (played_game.fault.empty() || table.count() > 0) {
            const DrawnRange range = expected_range(args, table.count(), table.first);
            const std::int64_t drawn = range.end - range.start;
            diagrams += drawn;
            marks += drawn;
            bool notes = table.comment.size() > SHORT_GAME_COMMENT;
            for (std::int64_t i = range.start; i < range.end; ++i) {
                marks -= (table.at(i).flags & NULL_MOVE_BIT) != 0 ? 1 : 0;
                const auto k = static_cast<std::size_t>(i - table.first);
                notes = notes || (k < table.notes.size() && (table.notes[k].comment.size() > SHORT_COMMENT ||
                                                             !table.notes[k].variations.empty()));
            }
            // The notes start on a page of their own.
            pages += notes ? 1 : 0;
            pages += std::max<std::int64_t>(1, (drawn + BOARDS_PER_PAGE - 1) / BOARDS_PER_PAGE);
        }
    };

    Streams& open = streams();
    std::FILE* out = open.sheet.fresh();
    std::FILE* err = open.complaints.fresh();
    // By reference: the watcher's captures do not fit inside a
    // std::function, which would take them to the heap.
    const int status = print_pgn_run(open.input.reading(input), "fuzz", PgnArgs{args, std::nullopt, {}}, out, err,
                                     std::ref(check_game));
    const std::string_view sheet = open.sheet.text();
    const std::string_view complaints = open.complaints.text();
    check(status == (faults > 0 || games == 0 ? 1 : 0), "status");
    std::int64_t lines = 0;
    for (std::size_t at = complaints.find('\n'); at != std::string_view::npos; at = complaints.find('\n', at + 1))
        ++lines;
    check(lines == faults + (games == 0 ? 1 : 0), "one line per fault", complaints);
    if (pages == 0) {
        check(sheet.empty(), "sheet without a game");
        return;
    }
    const SheetCounts counts = check_sheet(sheet);
    check(counts.boards == diagrams && counts.captions == diagrams && counts.marks == marks && counts.numbers == diagrams,
          "diagram count");
    check(counts.pages == pages, "page count");
}

} // namespace

// A run frees well under 1 MB (300 KB at most over a grown corpus), so a
// 1 MB quarantine still catches any use of memory freed within the run.
// The default 256 MB, and even 32, recycles memory long out of the cache:
// a run took a fifth longer.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name AddressSanitizer looks for
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=1"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    RangeArgs args;
    bool pgn = false;
    if (!input.empty()) {
        const int given = static_cast<unsigned char>(input[0]) & 3;
        pgn = (static_cast<unsigned char>(input[0]) & 0x80) != 0;
        input.remove_prefix(1);
        for (int k = 0; k < given && k < 2 && !input.empty(); ++k) {
            const std::int64_t value = RANGE_VALUES[static_cast<unsigned char>(input[0]) % RANGE_VALUES.size()];
            input.remove_prefix(1);
            (k == 0 ? args.start_move : args.end_move) = value;
        }
    }
    if (pgn) {
        fuzz_pgn(input, args);
        return 0;
    }

    // The walk, step by step, as print_run takes it, with the record read
    // as a stream.
    Streams& open = streams();
    MoveTable table;
    check(read_record_file(open.input.reading(input), table) == 0, "reading from memory failed");
    check_table(table);

    Board board;
    setup_board(board);
    check_board(board);
    PageState page;
    {
        Output out(open.walked.fresh());
        begin_sheet(out);
        const HalfMoveRange range = half_move_range(args, table.count());
        for (std::int64_t i = 1; i < range.end; ++i) {
            print_half_move(table, range, i, board, page, out);
            check_board(board);
        }
        end_sheet(page, out);
        check(flush_output(out), "writing to memory failed");
    }
    const std::string_view walked_sheet = open.walked.text();

    // The whole run, the record read as a regular file.
    const int status = print_run(open.record.holding(input), "fuzz", args, open.sheet.fresh(), open.complaints.fresh());
    const std::string_view sheet = open.sheet.text();
    check(status == 0, "run failed");
    check(open.complaints.text().empty(), "run complained");
    check(sheet == walked_sheet, "run and walk differ");

    const SheetCounts counts = check_sheet(sheet);
    const std::int64_t diagrams = expected_diagrams(args, table.count());
    check(counts.boards == diagrams && counts.captions == diagrams, "diagram count");
    check(counts.pages == (diagrams + BOARDS_PER_PAGE - 1) / BOARDS_PER_PAGE, "page count");
    return 0;
}
