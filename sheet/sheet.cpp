// The diagram sheet writer.
//
// Writing is the program's hot path on long records: fixed texts are
// copied, numbers formatted by hand and the board taken as the Board keeps
// it, so a diagram costs a few copies and no allocation.
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "sheet/sheet.h"

namespace tavrik {

namespace {

constexpr std::string_view BOARD_PREFIX = "C ('#[";
constexpr std::string_view BOARD_SUFFIX = "]') show\n";

void put_char(Output& out, char c) { put_text(out, std::string_view(&c, 1)); }

// Invalid text shows printable and escaped, a move as coordinate text.
void put_move_text(Output& out, const MoveTable& table, std::int64_t i) {
    const HalfMove& half_move = table.at(i);
    if (!table.san.empty()) {
        put_text(out, table.san[static_cast<std::size_t>(i - table.first)]);
        return;
    }
    if (half_move.flags & INVALID_BIT) {
        put_text(out, postscript_escaped(move_text_of(table, i)));
        return;
    }
    // As format_move, without building a string for every diagram.
    const Square from = from_square(half_move.move);
    const Square to = to_square(half_move.move);
    if (from == to)
        return;
    const std::array<char, 4> text = move_coordinates(from, to);
    put_text(out, std::string_view(text.data(), text.size()));
}

void new_page(PageState& page, Output& out) {
    put_text(out, "showpage\n/V 11 72 mul def\n/L 60 def\n");
    page.boards_on_page = 0;
    page.boards_in_row = 0;
    page.titled = false;
}

void put_finding(Output& out, char kind, const MoveTable& table, std::int64_t i) {
    put_text(out, "Illegal move ");
    put_char(out, kind);
    put_char(out, ' ');
    put_number(out, i);
    put_char(out, ' ');
    put_text(out, move_text_of(table, i));
    put_text(out, " \n");
}

void write_through(Output& out, std::string_view bytes) {
    if (out.stream == nullptr) {
        out.spilled.append(bytes);
        return;
    }
    if (!out.failed && std::fwrite(bytes.data(), 1, bytes.size(), out.stream) != bytes.size()) {
        out.failed = true;
        out.error = errno;
    }
}

void drain_output(Output& out) {
    write_through(out, std::string_view(out.bytes.get(), out.used));
    out.used = 0;
}

char* room_for(Output& out, std::size_t bytes) {
    if (OUTPUT_BUFFER_SIZE - out.used < bytes)
        drain_output(out);
    return out.bytes.get() + out.used;
}

// A diagram is written in two runs of raw appends around its move text,
// each into room made once, rather than a dozen bounded puts: this is
// most of the work on a long record. The rooms are upper bounds of what
// the runs hold, numbers taken at their longest.
constexpr std::size_t NUMBER_ROOM = 20; // INT64_MIN, the longest
constexpr std::size_t ROOM_BEFORE_MOVE = 64;
constexpr std::size_t ROOM_AFTER_MOVE = 224;
static_assert(ROOM_AFTER_MOVE <= OUTPUT_BUFFER_SIZE);

char* append(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// "00" to "99".
constexpr std::array<char, 200> DIGIT_PAIRS = [] {
    std::array<char, 200> pairs{};
    for (std::size_t k = 0; k < 100; ++k) {
        pairs[2 * k] = static_cast<char>('0' + k / 10);
        pairs[2 * k + 1] = static_cast<char>('0' + k % 10);
    }
    return pairs;
}();

const char* digit_pair(std::int64_t k) { return DIGIT_PAIRS.data() + 2 * k; }

// 0 <= n < 10000 as four digits, leading zeros kept.
char* append_four_digits(char* at, std::int64_t n) {
    std::memcpy(at, digit_pair(n / 100), 2);
    std::memcpy(at + 2, digit_pair(n % 100), 2);
    return at + 4;
}

// 0 <= n < 10000, without leading zeros.
char* append_up_to_four_digits(char* at, std::int64_t n) {
    if (n < 10) {
        *at = static_cast<char>('0' + n);
        return at + 1;
    }
    if (n < 100) {
        std::memcpy(at, digit_pair(n), 2);
        return at + 2;
    }
    if (n < 1000) {
        *at = static_cast<char>('0' + n / 100);
        std::memcpy(at + 1, digit_pair(n % 100), 2);
        return at + 3;
    }
    return append_four_digits(at, n);
}

// Scores, times and move numbers mostly have up to eight digits, and
// scores a sign half the time; those are taken from the table of digit
// pairs, the rest from the library's conversion.
char* append_number(char* at, std::int64_t n) {
    constexpr std::int64_t BEYOND = 100'000'000;
    if (n <= -BEYOND || n >= BEYOND)
        return std::to_chars(at, at + NUMBER_ROOM, n).ptr;
    if (n < 0) {
        *at++ = '-';
        n = -n;
    }
    if (n < 10000)
        return append_up_to_four_digits(at, n);
    return append_four_digits(append_up_to_four_digits(at, n / 10000), n % 10000);
}

void appended_up_to(Output& out, const char* end) {
    out.used = static_cast<std::size_t>(end - out.bytes.get());
}

// Takes the next diagram's cell, on a new page when this one is full.
void take_cell(PageState& page, Output& out) {
    if (page.boards_on_page == boards_per_page(page.layout))
        new_page(page, out);
    ++page.boards_on_page;
}

// Ends a caption and appends the board under it.
char* append_board(char* at, const Board& board) {
    at = append(at, ") show\nL  V 100 sub moveto\n");
    at = append(at, BOARD_PREFIX);
    at = append(at, std::string_view(board.letters.data(), board.letters.size()));
    return append(at, BOARD_SUFFIX);
}

// Appends the move to the next cell, along the row or to the next one.
char* next_cell(PageState& page, char* at) {
    if (++page.boards_in_row == boards_per_row(page.layout)) {
        page.boards_in_row = 0;
        // The larger boards' rows stand further apart, in the body's units.
        return append(at, page.layout == Layout::GRID_2X3 ? "/V V 180 sub def /L 60 def\n"
                                                          : "/V V 120 sub def /L 60 def\n");
    }
    return append(at, "/L 160 L add def\n");
}

const MoveNote* note_of(const MoveTable& table, std::int64_t i) {
    const auto k = static_cast<std::size_t>(i - table.first);
    return k < table.notes.size() ? &table.notes[k] : nullptr;
}

// Whether the move's words or variations go to the game's notes.
bool has_notes(const MoveNote* note) {
    return note != nullptr && (note->comment.size() > SHORT_COMMENT || !note->variations.empty());
}

void put_string(Output& out, std::string_view text, std::string_view procedure) {
    put_char(out, '(');
    put_text(out, latin1_postscript_text(text));
    put_text(out, ") ");
    put_text(out, procedure);
    put_char(out, '\n');
}

// A paragraph of the notes, in pieces of at most about a kilobyte, each
// ending at a space where one comes, never within a letter, so that no
// PostScript string grows long.
void put_paragraph(Output& out, std::string_view text) {
    constexpr std::size_t PIECE = 1024;
    for (bool first = true; !text.empty(); first = false) {
        std::size_t cut = text.size();
        if (cut > PIECE) {
            cut = text.rfind(' ', PIECE);
            if (cut == std::string_view::npos || cut == 0)
                for (cut = PIECE; cut > 1 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;)
                    --cut;
        }
        put_string(out, text.substr(0, cut), first ? "NoteText" : "NoteMore");
        text.remove_prefix(cut);
    }
}

// "+0.35", "-1.20", "0.00" for a score from white's view; "#3", "#-3"
// for mates (a mate in n is 100000 - n, as readers and engines give it).
char* append_evaluation(char* at, std::int64_t white_score) {
    const std::int64_t size = white_score < 0 ? -white_score : white_score;
    if (size > MATE_SCORE - 1000 && size <= MATE_SCORE) {
        at = append(at, white_score < 0 ? "#-" : "#");
        return append_number(at, MATE_SCORE - size);
    }
    if (white_score != 0)
        *at++ = white_score > 0 ? '+' : '-';
    at = append_number(at, size / 100);
    *at++ = '.';
    std::memcpy(at, digit_pair(size % 100), 2);
    return at + 2;
}

// "0:03", "1:05", "1:02:03": milliseconds to the nearest second.
char* append_duration(char* at, std::int64_t ms) {
    const std::int64_t seconds = ms <= 0 ? 0 : ms / 1000 + (ms % 1000 >= 500 ? 1 : 0);
    if (seconds >= 3600) {
        at = append_number(at, seconds / 3600);
        *at++ = ':';
        std::memcpy(at, digit_pair(seconds % 3600 / 60), 2);
        at += 2;
    } else {
        at = append_number(at, seconds / 60);
    }
    *at++ = ':';
    std::memcpy(at, digit_pair(seconds % 60), 2);
    return at + 2;
}

// The numbers of a caption after its move and marks, as far as given.
char* append_caption_numbers(char* at, const MoveTable& table, std::int64_t i) {
    const auto k = static_cast<std::size_t>(i - table.first);
    const GivenNumbers given = k < table.given.size() ? table.given[k] : 0;
    const HalfMove& half_move = table.at(i);
    if ((given & SCORE_GIVEN) != 0) {
        *at++ = ' ';
        at = append_evaluation(at, i % 2 == 0 ? -half_move.score : half_move.score);
    }
    if ((given & TIME_GIVEN) != 0) {
        *at++ = ' ';
        at = append_duration(at, half_move.time);
    }
    return at;
}

// Room for the numbers of a caption: a sign, the largest number, its
// point and two digits, a time of the largest number of hours.
constexpr std::size_t CAPTION_NUMBERS_ROOM = 2 * (NUMBER_ROOM + 8);

// A game's diagram with its caption as players read it, the numbers for
// the prologue apart, and a short comment under the board. Its text is
// SAN and marks: nothing a PostScript string holds specially.
void write_book_diagram(PageState& page, const Board& board, const MoveTable& table, std::int64_t i,
                        Output& out) {
    const HalfMove& half_move = table.at(i);
    const auto k = static_cast<std::size_t>(i - table.first);
    const GivenNumbers given = k < table.given.size() ? table.given[k] : 0;
    const bool black = i % 2 == 0;
    char* at = room_for(out, ROOM_AFTER_MOVE);
    at = append(at, "L V moveto\n");
    // The caption does not show the squares; a null move has none.
    if ((half_move.flags & NULL_MOVE_BIT) == 0) {
        at = append_number(at, from_square(half_move.move));
        *at++ = ' ';
        at = append_number(at, to_square(half_move.move));
        at = append(at, " M\n");
    }
    at = append_number(at, (i + 1) / 2);
    at = append(at, black ? " true " : " false ");
    at = append_number(at, black ? -half_move.score : half_move.score);
    at = append(at, (given & SCORE_GIVEN) != 0 ? " true " : " false ");
    at = append_number(at, half_move.time);
    at = append(at, " E\nR (");
    at = append_number(at, (i + 1) / 2);
    at = append(at, black ? "... " : ". ");
    appended_up_to(out, at);
    put_text(out, table.san[k]);
    const MoveNote* note = note_of(table, i);
    if (note != nullptr)
        put_text(out, note->marks);
    at = room_for(out, ROOM_AFTER_MOVE + CAPTION_NUMBERS_ROOM);
    at = append_caption_numbers(at, table, i);
    appended_up_to(out, append_board(at, board));
    if (note != nullptr) {
        std::string under = note->comment.size() > SHORT_COMMENT ? std::string() : note->comment;
        if (has_notes(note))
            under += (under.empty() ? "(see note " : " (see note ") + std::to_string(++page.notes) + ")";
        if (!under.empty())
            put_string(out, under, "U");
    }
    appended_up_to(out, next_cell(page, room_for(out, ROOM_AFTER_MOVE)));
}

} // namespace

namespace {

// Whether the text is well-formed UTF-8 (shortest forms not checked).
bool is_utf8(std::string_view text) {
    for (std::size_t k = 0; k < text.size();) {
        const auto byte = static_cast<unsigned char>(text[k]);
        const std::size_t length = byte < 0x80 ? 1 : byte >= 0xC2 && byte < 0xE0 ? 2 : byte >= 0xE0 && byte < 0xF0 ? 3
                                                    : byte >= 0xF0 && byte < 0xF5               ? 4
                                                                                                 : 0;
        if (length == 0 || k + length > text.size())
            return false;
        for (std::size_t c = 1; c < length; ++c)
            if ((static_cast<unsigned char>(text[k + c]) & 0xC0) != 0x80)
                return false;
        k += length;
    }
    return true;
}

} // namespace

void put_long_text(Output& out, std::string_view text) {
    drain_output(out);
    if (text.size() > OUTPUT_BUFFER_SIZE) {
        write_through(out, text);
        return;
    }
    std::memcpy(out.bytes.get(), text.data(), text.size());
    out.used = text.size();
}

void put_number(Output& out, std::int64_t n) {
    appended_up_to(out, append_number(room_for(out, NUMBER_ROOM), n));
}

void put_kept_output(Output& out, Output& kept) {
    drain_output(out);
    write_through(out, kept.spilled);
    write_through(out, std::string_view(kept.bytes.get(), kept.used));
    discard_kept_output(kept);
}

void discard_kept_output(Output& kept) {
    kept.spilled.clear();
    kept.used = 0;
}

bool flush_output(Output& out) {
    drain_output(out);
    errno = 0;
    if (out.stream != nullptr && !out.failed &&
        (std::fflush(out.stream) != 0 || std::ferror(out.stream))) {
        out.failed = true;
        out.error = errno;
    }
    return !out.failed;
}

std::string board_text(const Board& board) {
    std::string text(BOARD_PREFIX);
    text.append(board.letters.data(), board.letters.size());
    text += BOARD_SUFFIX.substr(0, BOARD_SUFFIX.size() - 1);
    return text;
}

std::string postscript_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

void begin_sheet(Output& out, Layout layout) {
    put_text(out, "/V 11 72 mul def /L 60 def\n");
    if (layout == Layout::GRID_2X3)
        put_text(out, "(2x3) Layout\n");
}

void write_view(bool flipped, Output& out) { put_text(out, flipped ? "true Flip\n" : "false Flip\n"); }

void write_findings(ReplayFindings findings, const MoveTable& table, std::int64_t i,
                    Output& out) {
    if (findings & NO_MOVE_NAMED)
        put_finding(out, '?', table, i);
    if (findings & TARGET_NOT_OPPONENTS)
        put_finding(out, '-', table, i);
    if (findings & ORIGIN_NOT_MOVERS)
        put_finding(out, '+', table, i);
}

void write_diagram(PageState& page, const Board& board, const MoveTable& table,
                   std::int64_t i, Output& out) {
    take_cell(page, out);
    if (!table.san.empty()) {
        write_book_diagram(page, board, table, i, out);
        return;
    }
    const HalfMove& half_move = table.at(i);
    char* at = room_for(out, ROOM_BEFORE_MOVE);
    at = append(at, "L V moveto\n");
    at = append(at, "R (");
    at = append_number(at, (i + 1) / 2);
    at = append(at, i % 2 == 1 ? " " : "  ... ");
    appended_up_to(out, at);

    put_move_text(out, table, i);

    at = room_for(out, ROOM_AFTER_MOVE);
    at = append(at, " score ");
    at = append_number(at, half_move.score);
    at = append(at, " time ");
    at = append_number(at, half_move.time);
    appended_up_to(out, next_cell(page, append_board(at, board)));
}

void begin_game(PageState& page, const GameTitle& title, Output& out) {
    if (page.boards_on_page > 0 || page.titled)
        new_page(page, out);
    page.titled = true;
    page.notes = 0;
    put_char(out, '(');
    put_text(out, latin1_postscript_text(title.white));
    put_text(out, ") (");
    put_text(out, latin1_postscript_text(title.black));
    put_text(out, ") (");
    put_text(out, latin1_postscript_text(title.details));
    put_text(out, ") T\n");
    if (title.comment.size() > SHORT_GAME_COMMENT)
        put_string(out, "(see the notes after the diagrams)", "I");
    else if (!title.comment.empty())
        put_string(out, title.comment, "I");
}

void write_notes(PageState& page, const MoveTable& table, std::int64_t first, std::int64_t end,
                 Output& out) {
    const bool opening = table.comment.size() > SHORT_GAME_COMMENT;
    bool any = opening;
    for (std::int64_t i = first; i < end && !any; ++i)
        any = has_notes(note_of(table, i));
    if (!any)
        return;
    put_text(out, "showpage\nNotes\n");
    if (opening) {
        put_text(out, "() (Before the first move) NoteHead\n");
        put_paragraph(out, table.comment);
    }
    int number = 0;
    for (std::int64_t i = first; i < end; ++i) {
        const MoveNote* note = note_of(table, i);
        if (!has_notes(note))
            continue;
        put_char(out, '(');
        put_number(out, ++number);
        put_text(out, ") ");
        put_string(out, book_caption(table, i), "NoteHead");
        if (note->comment.size() > SHORT_COMMENT)
            put_paragraph(out, note->comment);
        for (const std::string& variation : note->variations)
            put_paragraph(out, variation);
    }
    page.boards_on_page = 0;
    page.boards_in_row = 0;
    page.titled = true;
}

void begin_worksheet(std::string_view heading, Layout layout, Output& out) {
    begin_sheet(out, layout);
    put_text(out, "/EvalBars false def /GraphPages false def\n");
    put_string(out, heading, "H");
}

void write_task_diagram(PageState& page, const Board& board, std::string_view task, std::string_view source,
                        Output& out) {
    take_cell(page, out);
    write_view(board.side == BLACK, out);
    put_text(out, "L V moveto\nR (");
    put_text(out, postscript_escaped(task));
    appended_up_to(out, append_board(room_for(out, ROOM_AFTER_MOVE), board));
    put_string(out, source, "U");
    appended_up_to(out, next_cell(page, room_for(out, ROOM_AFTER_MOVE)));
}

void write_text_pages(PageState& page, std::string_view heading, const std::vector<std::string>& paragraphs,
                      Output& out) {
    if (page.boards_on_page > 0 || page.titled)
        put_text(out, "showpage\n");
    put_string(out, heading, "NotesTop");
    for (const std::string& paragraph : paragraphs)
        put_paragraph(out, paragraph);
    page.boards_on_page = 0;
    page.boards_in_row = 0;
    page.titled = true;
}

std::string evaluation_text(std::int64_t white_score) {
    std::array<char, NUMBER_ROOM + 8> text{};
    return {text.data(), append_evaluation(text.data(), white_score)};
}

std::string duration_text(std::int64_t ms) {
    std::array<char, NUMBER_ROOM + 8> text{};
    return {text.data(), append_duration(text.data(), ms)};
}

std::string book_caption(const MoveTable& table, std::int64_t i) {
    const auto k = static_cast<std::size_t>(i - table.first);
    std::string caption = move_number_text(i) + ' ';
    caption += k < table.san.size() ? table.san[k] : move_text_of(table, i);
    if (const MoveNote* note = note_of(table, i); note != nullptr)
        caption += note->marks;
    std::array<char, CAPTION_NUMBERS_ROOM> numbers{};
    caption.append(numbers.data(), append_caption_numbers(numbers.data(), table, i));
    return caption;
}

void end_sheet(const PageState& page, Output& out) {
    // Once a diagram is written the page count never drops back to 0.
    if (page.boards_on_page > 0 || page.titled)
        put_text(out, "showpage\n");
}

std::string latin1_postscript_text(std::string_view text) {
    const std::string_view utf8 = text;
    std::string out;
    // Most names come out as long as they go in: room made once.
    out.reserve(text.size());
    const auto put_code = [&out](std::uint32_t code) {
        if (code < 0x20 || code == 0x7F) {
            out += ' ';
        } else if (code < 0x7F) {
            if (code == '(' || code == ')' || code == '\\')
                out += '\\';
            out += static_cast<char>(code);
        } else if (code >= 0xA0 && code <= 0xFF) {
            out += '\\';
            out += static_cast<char>('0' + (code >> 6));
            out += static_cast<char>('0' + ((code >> 3) & 7));
            out += static_cast<char>('0' + (code & 7));
        } else {
            out += '?';
        }
    };
    if (!is_utf8(text)) {
        for (const char c : text)
            put_code(static_cast<unsigned char>(c));
        return out;
    }
    for (std::size_t k = 0; k < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[k]);
        // Two-byte sequences hold every Latin-1 letter; anything longer or
        // broken is a character Latin-1 lacks.
        std::size_t length = 1;
        if (byte >= 0xC0 && byte < 0xE0)
            length = 2;
        else if (byte >= 0xE0 && byte < 0xF0)
            length = 3;
        else if (byte >= 0xF0 && byte < 0xF8)
            length = 4;
        bool whole = k + length <= utf8.size();
        for (std::size_t c = 1; whole && c < length; ++c)
            whole = (static_cast<unsigned char>(utf8[k + c]) & 0xC0) == 0x80;
        if (byte < 0x80) {
            put_code(byte);
            ++k;
        } else if (length == 2 && whole) {
            put_code((std::uint32_t{byte} & 0x1F) << 6 |
                     (static_cast<unsigned char>(utf8[k + 1]) & 0x3F));
            k += 2;
        } else {
            out += '?';
            k += whole ? length : 1;
        }
    }
    return out;
}

} // namespace tavrik
