// Reading a game record: move codes, move text and the move table.
//
// A record is two header lines, then one line per full move holding white's
// and black's half-move, each as move text followed by four numbers (score,
// two numbers kept but unused, time). Tokens are separated by spaces only.
// Reading stops at the end of the file or at the first line that holds
// nothing but spaces (a carriage return before the newline is ignored).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chess/chess.h"

namespace tavrik {

struct DecodedMove {
    MoveCode move = 0;
    MoveFlags flags = 0;
};

// Decodes one move token (the text up to the next space). Looks at its
// first five characters only, reading those past its end as spaces:
// an 'o' fifth is queen-side castling, else an 'o' first is king-side
// castling, for the given colour; otherwise four coordinate characters
// (e2e4) and an optional lower-case promotion letter (e7e8q). Anything else
// comes back with INVALID_BIT.
DecodedMove decode_move_text(std::string_view token, Colour colour);

// "e2e4" for the two squares, as four characters, with no allocation.
std::array<char, 4> move_coordinates(Square from, Square to);

// "e2e4" for the two squares, "" when they are equal.
std::string format_move(Square from, Square to);

// The text with every byte outside printable ASCII replaced by '?', safe to
// write inside a line of output.
std::string printable_text(std::string text);

// Appends to message the printable text of at most text's first 40 bytes,
// "..." after a longer one: a piece of input to quote.
void add_printable_excerpt(std::string& message, std::string_view text);

// The move text a record writes for a move: coordinate text and a
// lower-case promotion letter, e7e8q, which is also how UCI writes it.
std::string coordinate_text(MoveCode move, MoveFlags flags);

// A mate in n as a half-move's score: 100000 - n; a mate against is its
// negative.
constexpr std::int64_t MATE_SCORE = 100000;

struct HalfMove {
    MoveCode move = 0;
    MoveFlags flags = 0;
    std::int64_t score = 0;
    std::int64_t number2 = 0; // kept from the record, used by nothing
    std::int64_t number3 = 0; // kept from the record, used by nothing
    std::int64_t time = 0;
};

// Memory for the move table. Blocks of 2 MiB and more are aligned to
// huge pages and advised as such, so that a long record's table costs a
// handful of page faults instead of one per 4 KiB; smaller blocks come
// from malloc. Throws std::bad_alloc when there is no memory.
void* allocate_table_memory(std::size_t bytes);
void free_table_memory(void* block) noexcept;

template <class T>
struct TableAllocator {
    using value_type = T;

    TableAllocator() = default;
    template <class U>
    explicit TableAllocator(const TableAllocator<U>& /*unused*/) {}

    T* allocate(std::size_t n) { return static_cast<T*>(allocate_table_memory(n * sizeof(T))); }
    void deallocate(T* block, std::size_t /*n*/) noexcept { free_table_memory(block); }

    friend bool operator==(const TableAllocator&, const TableAllocator&) = default;
};

// The move text of half-move index as written, kept for a half-move
// flagged INVALID_BIT.
struct InvalidText {
    std::int64_t index = 0;
    std::string text;

    friend bool operator==(const InvalidText&, const InvalidText&) = default;
};

// Which numbers of a half-move a PGN file gave: a score, the time spent.
using GivenNumbers = std::uint8_t;
constexpr GivenNumbers SCORE_GIVEN = 1;
constexpr GivenNumbers TIME_GIVEN = 2;

// What a PGN file says of a half-move besides its numbers.
struct MoveNote {
    std::string marks;   // "!?", "!? +=": its NAGs as players read them
    std::string comment; // the words of its comments
    std::vector<std::string> variations; // each as text with move numbers
};

// Half-moves in playing order. Indexes count half-moves as the game does:
// white's move m is index 2m - 1, black's 2m. A record starts at index 1;
// a game set up at a later move starts at that move's index.
struct MoveTable {
    std::vector<HalfMove, TableAllocator<HalfMove>> half_moves;
    std::int64_t first = 1;
    // Move text as written, for the half-moves flagged INVALID_BIT, in
    // order of index: a list, as a record's texts come in that order and a
    // map would take an allocation for each.
    std::vector<InvalidText> invalid_texts;
    // For a game read as PGN, each half-move in standard algebraic
    // notation, shown instead of coordinate text; empty for a record.
    std::vector<std::string> san;
    // A record's two header lines as read, for programs that write the
    // record again.
    std::vector<std::string> headers;
    // For a game read as PGN: the numbers its file gave of each half-move;
    // what it says of each besides, left empty when it says nothing of
    // any; and the words of its comments before the first move.
    std::vector<GivenNumbers> given;
    std::vector<MoveNote> notes;
    std::string comment;

    // The index after the last half-move.
    [[nodiscard]] std::int64_t end() const {
        return first + static_cast<std::int64_t>(half_moves.size());
    }
    [[nodiscard]] std::int64_t count() const {
        return static_cast<std::int64_t>(half_moves.size());
    }
    [[nodiscard]] const HalfMove& at(std::int64_t i) const {
        return half_moves[static_cast<std::size_t>(i - first)];
    }
};

// Keeps the text of invalid half-move index, in order.
void add_invalid_text(std::vector<InvalidText>& texts, std::int64_t index, std::string_view text);

// The text of invalid half-move i as written, empty if none was kept.
std::string_view invalid_text_of(const MoveTable& table, std::int64_t i);

// The move text of half-move i as a reader should see it: SAN for a game
// read as PGN, else coordinate text for a move, the printable form of what
// was written for invalid text.
std::string move_text_of(const MoveTable& table, std::int64_t i);

// What a record's first header line, "White - Black, event, date", says;
// each part empty where the line has none. Without " - " in the players
// there is no black, and white is all before the first comma.
struct HeaderFields {
    std::string_view white;
    std::optional<std::string_view> black;
    std::string_view event;
    std::string_view date;
};
HeaderFields header_fields(const MoveTable& table);

// The number players write before half-move i: "12." before white's move
// 12, "12..." before black's.
std::string move_number_text(std::int64_t i);

// Half-move i as messages name it: "12 Nf3", "12... Nf6".
std::string move_label(const MoveTable& table, std::int64_t i);

// The decimal number at the start of text, as the C library converts it:
// leading white space skipped, optional sign, digits up to the first other
// character, 0 without digits, clamped to the 64-bit range. text must be
// terminated by a NUL. When stop is given, it receives where the reading
// stopped: after the last digit, or after any white space and sign.
std::int64_t parse_decimal(const char* text, const char** stop = nullptr);

// Lines of a file of any length, each without its newline and without a
// carriage return before that; the text stays terminated by a NUL so that
// numbers can be converted in place.
class LineReader {
public:
    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();

    // False at the end of the file or on a failure, which error() then
    // tells: a read error, or no memory for a long line.
    bool next(std::FILE* file, std::string_view& line);

    [[nodiscard]] int error() const { return error_; }

private:
    int error_ = 0;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
};

// Reads the whole record from file, which is positioned at its start, and
// appends its half-moves to the table. A line that lacks black's move text
// adds a half-move flagged INVALID_BIT with empty text, except on the last
// move line, where the game simply ended with white's move.
// Returns 0, or the errno of a failed read (ENOMEM when the table or a
// line finds no memory). A regular file is read by offset from the
// stream's position, which it leaves where it was; one of more than a MiB
// is read in parts on two threads where the process may use two CPUs.
// The report, when given, tells how it was read.
struct ReadReport {
    std::size_t parts = 1; // read at once; 1 for a record read in one piece
};
int read_record_file(std::FILE* file, MoveTable& table, ReadReport* report = nullptr);

} // namespace tavrik
