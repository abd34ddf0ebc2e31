// The diagram sheet: the PostScript page body, one diagram per half-move,
// and the replay's findings between them.
//
// Diagrams stand three to a row and six rows to a page. Each is a caption
// (move number, move text, score, time) set with the procedure R, and the
// board below it as one string set with C: a letter per piece, upper case
// for white, a space per empty square, a ';' after each rank from 8 down
// to 1. R and C are left to a prologue; the body never defines them.
//
// A sheet of games read as PGN reads like a book and uses more procedures
// of the prologue. Each game starts on a new page with "(White) (Black)
// (details) T", its title, and "(words) I" under it for a comment before
// its first move. Each caption is the move as players read it, "12. Nf3!?
// +0.35 1:05" (what the file does not give is left out), and follows
// "from to M", the squares of the move as numbers 0 (a1) to 63 (h8),
// unless it is a null move ("--"), and "move black score known time E",
// its numbers for the evaluation bar and the graph page: the score from
// white's view, whether the file gave one, the milliseconds spent. A
// short comment stands under its board, "(words) U"; a long one and the
// variations go to the game's notes, after its diagrams: "Notes", then
// for each move "(n) (caption) NoteHead" and paragraphs "(words) NoteText",
// continued by "(words) NoteMore".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "position/position.h"
#include "record/record.h"

namespace tavrik {

constexpr int BOARDS_PER_ROW = 3;
constexpr int BOARDS_PER_PAGE = 18;

// How the diagrams stand on a page: three a row and six rows, or two a
// row and three rows of boards that the prologue draws half as large
// again. The body of the second says so with "(2x3) Layout" at its start.
enum class Layout : std::uint8_t { GRID_3X6, GRID_2X3 };

constexpr int boards_per_row(Layout layout) { return layout == Layout::GRID_2X3 ? 2 : BOARDS_PER_ROW; }
constexpr int boards_per_page(Layout layout) { return layout == Layout::GRID_2X3 ? 6 : BOARDS_PER_PAGE; }

// Large chunks for large sheets. A fuzzing build, which makes thousands
// of short runs a second, takes a small buffer (TAVRIK_OUTPUT_BUFFER_KIB):
// a large one costs it a mapping of fresh memory every run.
#ifndef TAVRIK_OUTPUT_BUFFER_KIB
#define TAVRIK_OUTPUT_BUFFER_KIB 256
#endif
constexpr std::size_t OUTPUT_BUFFER_SIZE = std::size_t{TAVRIK_OUTPUT_BUFFER_KIB} * 1024;

// All output passes through one fixed buffer, handed to the stream in
// large chunks. The first failed write is remembered (its errno in error)
// and later output is dropped; flush_output tells. Without a stream the
// output is kept in memory, what overflows the buffer in spilled, for
// put_kept_output to pass on.
struct Output {
    explicit Output(std::FILE* to)
        : stream(to), bytes(std::make_unique_for_overwrite<char[]>(OUTPUT_BUFFER_SIZE)) {}

    std::FILE* stream;
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0;
    bool failed = false;
    int error = 0;
    std::string spilled;
};

// Buffers text that does not fit: drains the buffer first, and writes
// text longer than the whole buffer straight through.
void put_long_text(Output& out, std::string_view text);

inline void put_text(Output& out, std::string_view text) {
    if (text.size() > OUTPUT_BUFFER_SIZE - out.used) {
        put_long_text(out, text);
        return;
    }
    std::memcpy(out.bytes.get() + out.used, text.data(), text.size());
    out.used += text.size();
}

// The number in decimal, with a '-' when negative.
void put_number(Output& out, std::int64_t n);

// Writes what an Output without a stream kept, in order, after what out
// holds so far, and empties it for reuse. Its bytes go to out's stream as
// they are, without a copy into out's buffer.
void put_kept_output(Output& out, Output& kept);

// Empties an Output without a stream, dropping what it kept.
void discard_kept_output(Output& kept);

// Drains the buffer and flushes the stream. False if any write failed.
bool flush_output(Output& out);

struct PageState {
    int boards_on_page = 0;
    int boards_in_row = 0;
    bool titled = false; // the page holds a game's title or notes
    Layout layout = Layout::GRID_3X6;
    int notes = 0; // the game's notes referred to so far
};

// What a game's title line shows: "White - Black, details", and the
// words of its comments before the first move.
struct GameTitle {
    std::string white;
    std::string black;
    std::string details; // event, date, result
    std::string comment;
};

// Comments up to this long stand under their diagram or title; longer
// ones go to the notes.
constexpr std::size_t SHORT_COMMENT = 64;
constexpr std::size_t SHORT_GAME_COMMENT = 150;

// "+0.35", "-1.20", "0.00" for a score from white's view in centipawns;
// "#3" when white mates in 3, "#-3" when black does.
std::string evaluation_text(std::int64_t white_score);

// "0:03", "1:05", "1:02:03": milliseconds to the nearest second.
std::string duration_text(std::int64_t ms);

// Half-move i of a game read as PGN as players read it: "12. Nf3!? +=
// +0.35 1:05", "12... --", with only the numbers the file gave.
std::string book_caption(const MoveTable& table, std::int64_t i);

// The text as a PostScript string's contents in ISO Latin-1: UTF-8
// letters that Latin-1 has become octal escapes, others '?'; backslash
// and parentheses are escaped, control characters become spaces. Text
// that is not UTF-8 is taken as Latin-1, as older files write it.
std::string latin1_postscript_text(std::string_view text);

// "C ('#[" + eight ranks of nine characters + "]') show": 86 characters.
std::string board_text(const Board& board);

// The text escaped for use inside a PostScript string: backslash and
// parentheses get a backslash before them.
std::string postscript_escaped(std::string_view text);

// Writes the opening line, which puts the first row at the top of a page,
// and the page's layout where it is not the usual one.
void begin_sheet(Output& out, Layout layout = Layout::GRID_3X6);

// Writes "true Flip" or "false Flip": the boards that follow are drawn
// from black's side or from white's.
void write_view(bool flipped, Output& out);

// Writes one line per finding of the replay of half-move i:
//   "Illegal move - i e1e2 " the target holds a piece that is not the
//                            opponent's;
//   "Illegal move + i e1e2 " the origin holds no piece of the side to move;
//   "Illegal move ? i text " the move text names no move.
void write_findings(ReplayFindings findings, const MoveTable& table, std::int64_t i,
                    Output& out);

// Writes the diagram of half-move i: the board must have been replayed up
// to and including i.
void write_diagram(PageState& page, const Board& board, const MoveTable& table,
                   std::int64_t i, Output& out);

// Starts a game on a page of its own, under its title.
void begin_game(PageState& page, const GameTitle& title, Output& out);

// A worksheet's page: "(heading) H" across its top, and no evaluation
// bars or graph pages ("/EvalBars false def /GraphPages false def").
void begin_worksheet(std::string_view heading, Layout layout, Output& out);

// Writes a worksheet's diagram: the position, seen from the side to move,
// without a last move, captioned with the task ("1. White to play") and,
// under the board, where it comes from.
void write_task_diagram(PageState& page, const Board& board, std::string_view task, std::string_view source,
                        Output& out);

// Writes pages of text after the diagrams: "(heading) NotesTop", then a
// paragraph each.
void write_text_pages(PageState& page, std::string_view heading, const std::vector<std::string>& paragraphs,
                      Output& out);

// Writes the notes of a game read as PGN whose half-moves first .. end - 1
// were drawn, on pages of their own after its diagrams: a long comment
// before its first move, then for each drawn move with a long comment or
// variations, in order, its number, its caption and those.
void write_notes(PageState& page, const MoveTable& table, std::int64_t first, std::int64_t end,
                 Output& out);

// Ends the last page, if any diagram or title was written.
void end_sheet(const PageState& page, Output& out);

} // namespace tavrik
