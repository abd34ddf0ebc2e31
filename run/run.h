// The command line and the print run:
// `tavrik [--pgn] [--game N] [--to-record] file [start [end] ]`.
//
// Reads the record, replays every half-move from the starting position and
// draws those of the chosen range. start and end are move numbers; move m
// begins at half-move index 2m - 1. The range runs from start's index up
// to, not including, end's index; without an end, or with one outside the
// record, it runs to the last half-move, and a start outside the record
// falls back to the first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "analyse/analyse.h"
#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"
#include "sheet/sheet.h"

namespace tavrik {

// Move numbers as given on the command line.
struct RangeArgs {
    std::optional<std::int64_t> start_move;
    std::optional<std::int64_t> end_move;
};

// How the boards are shown: --flip draws every board from black's side,
// --player NAME each game from the side of the player NAME names (white's
// where NAME did not play), --layout 2x3 six larger diagrams a page.
struct ViewArgs {
    bool flip = false;
    std::optional<std::string> player;
    Layout layout = Layout::GRID_3X6;
};

// Whether a game of these players is seen from black's side: the player's
// name holds `name` in any case and the White name does not.
bool seen_from_black(std::string_view white, std::string_view black, const ViewArgs& view);

// Half-move indexes: the diagrams are drawn for start <= i < end.
struct HalfMoveRange {
    std::int64_t start = 1;
    std::int64_t end = 1;
};

// 2m - 1 for move number m; 0 for m <= 0, which names no half-move;
// saturates rather than overflows for huge m.
std::int64_t index_of_move(std::int64_t move_number);

// The range within the half-moves first .. first + count - 1.
HalfMoveRange half_move_range(const RangeArgs& args, std::int64_t count, std::int64_t first = 1);

// One step of the walk: replays half-move i on the board, writes what the
// replay found, and draws the diagram when i lies in the range. A run
// takes the steps for i = 1 .. range.end - 1, in order.
void print_half_move(const MoveTable& table, const HalfMoveRange& range, std::int64_t i,
                     Board& board, PageState& page, Output& out);

// Replays one game from its start and draws the range of it: the walk
// that records and PGN games share.
void print_game(const MoveTable& table, const Board& start, const RangeArgs& args, PageState& page,
                Output& out);

// The page after that many diagrams on a fresh one of the layout.
PageState page_after_diagrams(std::int64_t diagrams, Layout layout = Layout::GRID_3X6);

// print_game for a long game: this thread and a second one write
// stretches of it at once, and this one passes them on in order, so that
// out receives exactly what print_game writes. The page must be fresh;
// on any other the walk is print_game's. Returns how many stretches of
// 1,024 half-moves the second thread wrote.
std::int64_t print_game_on_two_threads(const MoveTable& table, const Board& start,
                                       const RangeArgs& args, PageState& page, Output& out);

// One whole run over an open record: read it, replay it, write the sheet to
// out. Problems go to err as "tavrik: ..." lines. Returns the exit status:
// 0 when the record was read and all output was written, 1 otherwise.
// A record's players are those of its first header line, "White -
// Black, ...".
int print_run(std::FILE* record, const char* record_name, const RangeArgs& args,
              std::FILE* out, std::FILE* err, const ViewArgs& view = {});

struct PgnArgs {
    RangeArgs range;
    std::optional<std::int64_t> game; // print only this game, from 1
    ViewArgs view;
};

// A worksheet instead of the games' sheets: --worksheet, --level.
struct WorksheetArgs {
    std::optional<std::int64_t> game;
    std::optional<std::string> player; // only this player's moves
    MistakeLevel level = MistakeLevel::MISTAKE;
};

// One whole run over an open PGN file that prints a worksheet: a diagram
// of the position before each move marked at the level or worse, six a
// page, each from the side to move, then the answers and each side's
// counts of marked moves. A file without such a move gives one page that
// says so. Games that cannot be played whole are reported as by
// print_pgn_run, and give their tasks up to there.
int print_worksheet_run(std::FILE* pgn, const char* pgn_name, const WorksheetArgs& args, std::FILE* out,
                        std::FILE* err);

// One game as print_pgn_run played it, before its pages are written; fault
// is empty when every move could be played. For callers that check a run
// in-process without reading and playing every game again. What it refers
// to lasts only through the watcher's call: the run reuses it for the next
// game.
struct PlayedGame {
    const PgnGame& game;
    const Board& start;
    const MoveTable& table;
    const std::string& fault;
};
using GameWatcher = std::function<void(const PlayedGame&)>;

// One whole run over an open PGN file: every game (or the one chosen)
// on pages of its own under its title. A game whose text breaks off or
// that holds a move that cannot be played is printed up to there and
// reported on err; the status is then 1, as when the file holds no game
// or not the chosen one.
int print_pgn_run(std::FILE* pgn, const char* pgn_name, const PgnArgs& args, std::FILE* out,
                  std::FILE* err, const GameWatcher& watch = {});

// Writes one game of an open PGN file as a record: the chosen game, or
// the only one. Writes nothing unless the whole game can be written.
int write_record_run(std::FILE* pgn, const char* pgn_name, std::optional<std::int64_t> chosen,
                     std::FILE* out, std::FILE* err);

// Reads the chosen game of an open PGN file, or its only one. When there
// is no such game, or more than one and none chosen, says so on err, as
// "PROGRAM: NAME: ...", and returns false.
// With raw_comments the game keeps its comments whole too.
bool read_one_pgn_game(std::FILE* pgn, const char* pgn_name, std::optional<std::int64_t> chosen,
                       PgnGame& game, std::FILE* err, const char* program, bool raw_comments = false);

// "PROGRAM: NAME: game N (White - Black): why" on err.
void report_pgn_game(std::FILE* err, const char* pgn_name, const PgnGame& game, const std::string& why,
                     const char* program = "tavrik");

// Why a game played from start cannot be written as a record, to follow
// "the game": "starts from a set-up position", "is a Chess960 game", "has a
// null move, 12... --"; empty when it can.
std::string why_no_record(const Board& start, const MoveTable& table);

// A game as a record: the header lines "White - Black, Event, Date" and
// the result, then its moves.
void write_record(const PgnGame& game, const MoveTable& table, Output& out);

// The move lines of a record: coordinate text (with a promotion letter)
// and the four numbers of each half-move, white's and black's to a line.
void write_record_moves(const MoveTable& table, Output& out);

// Whether a file of that name is read as PGN: its name ends in ".pgn",
// in any case.
bool is_pgn_name(std::string_view name);

// Flushes the output: 0, or 1 after saying on err why it failed.
int finish_output(Output& out, std::FILE* err);

// tavrik-analyse: parses argv, reads one game, has UCI engines search
// every move and writes the game with their numbers. Once interrupt_fd
// (a pipe the signal handler writes the signal's number to) becomes
// readable, it stops the engines and returns 128 + that number without
// writing anything.
int tavrik_analyse_main(int argc, const char* const argv[], std::FILE* in, std::FILE* out,
                        std::FILE* err, int interrupt_fd);

// The program: parses argv, opens the record ("-" is in), runs.
int tavrik_main(int argc, const char* const argv[], std::FILE* in, std::FILE* out,
                std::FILE* err);

} // namespace tavrik
