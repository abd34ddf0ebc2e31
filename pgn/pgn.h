// Reading PGN: games one at a time, their tags, move texts and the numbers
// that engines and servers write into the comments after a move.
//
// The reader knows the syntax only: tag pairs, move numbers, move text,
// comments in braces and after ';', NAGs and marks, variations (nested),
// result tokens, '%' escape lines, a byte-order mark and CRLF line ends.
// Whether a move text names a legal move is for the board to say; the
// moves of a variation are kept as the file writes them, never played.
//
// Offers besides: the words of a comment without its commands
// (comment_words), the NAGs as players read them (nag_text), and a
// variation as text with move numbers (variation_text).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chess/chess.h"
#include "record/record.h"

namespace tavrik {

// What the comments after one move say; each value is the first that the
// comments give.
struct CommentValues {
    std::optional<std::int64_t> score; // centipawns
    bool score_from_white = false;     // %eval; an engine comment: the mover's view
    std::optional<std::int64_t> depth;
    std::optional<std::int64_t> nodes;
    std::optional<std::int64_t> spent_ms; // %emt, or the engine's seconds
    std::optional<std::int64_t> clock_ms; // %clk: time left
};

// Reads the values a comment gives and adds those not known yet:
//   engine matches: "+0.35/18 1.234s", "-M3/20 0.5s", "+0.35/18 1.2s n=6644039";
//   servers: "[%eval 0.35]", "[%eval -1.20,18]", "[%eval #-3]",
//            "[%emt 0:00:01.5]", "[%clk 0:04:58.3]".
// Returns the length of the engine match's numbers at the comment's start,
// 0 when it has none.
std::size_t read_comment_values(std::string_view comment, CommentValues& values);

// Appends to words what a comment says to a reader: its text without the
// "[%...]" commands and without the first `numbers` bytes (an engine
// match's, as read_comment_values measured them; the function measures
// them itself when not told), white space folded to single spaces, a
// space before it when words held some already.
void comment_words(std::string_view comment, std::string& words,
                   std::optional<std::size_t> numbers = std::nullopt);

// Appends the marks of the NAGs as a reader reads them after a move: its
// first mark ("!?") glued to it, its first judgement ("+=") after a space.
void add_marks(std::string& text, const std::vector<std::uint8_t>& nags);

// The NAG of a mark written after a move or standing alone: "!" 1, "?" 2,
// "!!" 3, "??" 4, "!?" 5, "?!" 6; 0 for any other text.
int nag_of_mark(std::string_view mark);

// Whether a NAG is a move's mark, "!" to "?!" (1 to 6).
constexpr bool is_move_mark(int nag) { return nag >= 1 && nag <= 6; }

// A move's text without the marks written after it: "Nf3" of "Nf3!?".
std::string_view without_marks(std::string_view text);

// What players read for a NAG: "!" .. "?!" for 1 to 6, "=", "~" (unclear),
// "+=", "=+", "+/-", "-/+", "+-", "-+" for 10 to 19; empty for the rest.
std::string_view nag_text(int nag);

struct PgnMove {
    std::string text; // as written, marks and all
    CommentValues values;
    // Only when the reader keeps annotations: the NAGs after the move, its
    // marks among them, in order; the words of its comments; and the
    // variations that follow it, each an alternative to it, by their
    // places in the game's list of variations.
    std::vector<std::uint8_t> nags;
    std::string comment;
    std::vector<std::size_t> variations;
    // Only when the reader keeps comments whole: each as written.
    std::vector<std::string> raw_comments;
};

// A game's variations stand in one list, nested ones referred to by their
// places in it, so that no type holds itself.
struct PgnVariation {
    std::string comment; // before its first move
    std::vector<PgnMove> moves;
    std::vector<std::string> raw_comments; // before its first move, whole
};

// Variation `which` of the list as a reader reads it, for a variation
// replacing half-move `index` (white's move m is 2m - 1): its moves as
// written, each mark after its move, move numbers before white's moves and
// wherever black's follow a comment or another variation ("3... Nf6 4. O-O
// Nxe4"), its comments' words, and its own variations in parentheses.
std::string variation_text(const std::vector<PgnVariation>& variations, std::size_t which,
                           std::int64_t index);

struct Tag {
    std::string name;
    std::string value;
};

struct PgnGame {
    std::int64_t number = 0; // from 1 within its file
    std::vector<Tag> tags;
    std::vector<PgnMove> moves;
    std::vector<PgnVariation> variations; // of its moves and of each other
    std::string comment; // the words of the comments before the first move
    std::vector<std::string> raw_comments; // those comments whole, when kept
    std::string result; // empty when the game had no result token
    // Why the text of the game broke off after its moves, empty if it did
    // not: "unclosed comment", "missing ']' in tag pair".
    std::string damage;
};

// The tag's value, "?" when the game has no such tag; valid while the
// game's tags are.
std::string_view tag_value(const PgnGame& game, std::string_view name);

// "White - Black", the players as the tags name them.
std::string players_of(const PgnGame& game);

// Whether a player's name, as a tag or a record's header gives it, holds
// `name`, in any case of ASCII letters.
bool holds_name(std::string_view field, std::string_view name);

// Games of a PGN file, read one at a time so that memory stays bounded by
// the longest game.
class PgnReader {
public:
    explicit PgnReader(std::FILE* file) : file_(file) {}

    // Reads the next game into game (cleared first); false when no game
    // is left or reading failed (then error() says so). With keep_moves
    // false the moves are only counted past, not kept.
    bool next_game(PgnGame& game, bool keep_moves = true);

    // Whether games keep their comments' words, NAGs and variations
    // (the default), or only their moves and numbers.
    void keep_annotations(bool keep) { annotations_ = keep; }

    // Whether comments are kept whole besides, as written, for writing
    // the game again; off by default.
    void keep_raw_comments(bool keep) { raw_ = keep; }

    // The errno of a failed read, 0 if none.
    [[nodiscard]] int error() const { return lines_.error(); }

private:
    bool fill();
    [[nodiscard]] bool at_tag_line() const;
    void skip_to_next_tag_section(bool in_movetext);
    bool read_tag(PgnGame& game);
    bool read_comment(std::string* text, std::string& damage);
    bool skip_variation(std::string& damage);
    bool read_variation(std::vector<PgnVariation>& variations, std::size_t which, int depth,
                        std::string& damage);
    std::string_view next_token();

    std::FILE* file_;
    LineReader lines_;
    std::string_view line_;
    std::size_t pos_ = 0;
    bool have_line_ = false;
    bool first_line_ = true;
    std::int64_t line_number_ = 0;
    std::int64_t games_ = 0;
    std::string comment_; // the comment being read, kept for its capacity
    bool annotations_ = true;
    bool raw_ = false;
};

// The numbers of a TimeControl tag "300+2" (seconds, plus seconds added
// per move), or "300"; another form gives no base and no increment.
struct TimeControl {
    std::optional<std::int64_t> base_ms;
    std::int64_t increment_ms = 0;
};
TimeControl parse_time_control(std::string_view text);

// The clock each side had after its last move, for the time a move took.
struct Clocks {
    std::optional<std::int64_t> left_ms[2];
    std::int64_t increment_ms = 0;
};

Clocks clocks_at_start(const TimeControl& control);

// A half-move's four numbers from its comment values: the score from the
// mover's view, the depth, the nodes and the milliseconds spent (from
// %emt, else the mover's previous clock less this one plus the increment,
// never negative). Notes this move's clock in clocks. Returns which of
// score and time the values gave; the others are 0.
GivenNumbers fill_numbers(const CommentValues& values, Colour mover, Clocks& clocks, HalfMove& half_move);

} // namespace tavrik
