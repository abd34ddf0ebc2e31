// The analysis of games: what engines find of their moves, which moves
// went wrong, and the worksheet of their positions.
//
// Offers:
// - Task, tasks_of, run_tasks and played_reports: the positions of a game
//   to search, UCI engines that search them side by side for every move,
//   and what the searches say of the moves played;
// - expected_score and classify_move: how much a move lowered its mover's
//   expected score below the best move's, as an inaccuracy, a mistake or
//   a blunder;
// - write_pgn, write_annotated_pgn and tags_for_record: the game written
//   again with the engine's numbers;
// - MistakeLevel, mistake_of and nag_of: the marks players give a move that went
//   wrong, ?! (an inaccuracy), ? (a mistake) and ?? (a blunder);
// - WorksheetTask, add_worksheet_tasks and answer_text: the positions
//   before the moves of a game marked as wrong, each with the move played
//   and the better one its annotator gave, and how a worksheet answers it;
// - SideCounts, add_mistake and counts_text: each side's marked moves of
//   a game.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"
#include "sheet/sheet.h"

namespace tavrik {

// How wrong a move went, from the mildest on: a worksheet at a level
// takes the moves marked at that level or worse.
enum class MistakeLevel : std::uint8_t { NONE, INACCURACY, MISTAKE, BLUNDER };

// ---- Engines ----

// One search to make: the position before half-move `index` of the table
// and the move played there. A search of every move (best) comes first;
// the move played gets one of its own only where another was best and the
// position after it is not searched anyway.
struct Task {
    std::int64_t index = 0;
    std::string fen;
    std::string move;  // UCI: e2e4, e7e8q
    std::string label; // "12... Nf6", for messages
    bool best = false;
};

// The tasks of a game, and a line on err for every move not searched: a
// move that breaks the rules, a null move. A record's moves are replayed
// as recorded (`recorded`), a PGN game's as played.
std::vector<Task> tasks_of(const MoveTable& table, const Board& start, bool recorded, const char* name,
                           std::FILE* err);

// How the engines search: the limits of each search, how many engines,
// how long to wait for an answer, the UCI options for every engine.
struct EngineSchedule {
    SearchLimits limits;
    std::int64_t jobs = 1;
    double timeout_s = 10;
    std::vector<std::pair<std::string, std::string>> uci_options;
};

struct Failure {
    std::string text;
    int signal = 0; // the signal that interrupted the work, if one did
};

// Runs every task on the engines and fills in reports, one per task in
// the order of tasks. The tasks come as searches of every move (best) in
// the order of the moves; the list grows by a search of the move played
// where it was not the best and the position it leads to is not the next
// task, made by the engine that searched its position, right after. Every
// position's first search starts afresh, so a report depends on its
// position and move alone. progress is told the searches done and the
// searches known. Returns the first failure, if any; all engines are
// stopped either way.
std::optional<Failure> run_tasks(const EngineSchedule& schedule, const std::string& program,
                                 std::vector<Task>& tasks, std::vector<SearchReport>& reports, int interrupt_fd,
                                 const std::function<void(std::size_t, std::size_t)>& progress);

// What the search of the position after a move says of the move, from
// its mover's view.
SearchReport as_move_into(const SearchReport& after);

// The report of each move played, one per search of every move in the
// tasks that run_tasks did: that search's where the move was the best,
// else the search of the position it leads to, else its own search.
std::vector<SearchReport> played_reports(const std::vector<Task>& tasks, const std::vector<SearchReport>& reports);

// The signal that the interrupt pipe carries, 0 if none has come.
int interruption(int interrupt_fd);

// The game as PGN: its tags, SAN, and after every searched move an engine
// match's comment with the nodes.
void write_pgn(const std::vector<Tag>& tags, const std::string& result, const MoveTable& table,
               const std::vector<bool>& searched, Output& out);

// The seven tags every PGN game has, for a game read from a record: its
// first header line as the event.
std::vector<Tag> tags_for_record(const MoveTable& table);

// A record's header lines as tags: White, Black, Event and Date from
// "White - Black, Event, Date", the result from the second line.
std::vector<Tag> tags_of_headers(const MoveTable& table);

// ---- Judging moves ----

// The expected score, 0 to 1, of a score in centipawns from the mover's
// view: 1 / (1 + e^(-0.00368208 s)) with s held within +-1000; 1 for a
// mate for the mover, 0 for one against (a mate in n is 100000 - n).
double expected_score(std::int64_t score);

// A move is an inaccuracy, a mistake or a blunder when it lowers its
// mover's expected score below the best move's by at least 0.05, 0.10 or
// 0.15; scores from the mover's view.
MistakeLevel classify_move(std::int64_t best_score, std::int64_t played_score);

// What the engines found of a half-move, scores from its mover's view.
struct MoveVerdict {
    bool searched = false;
    std::int64_t score = 0; // the move played, as recorded
    std::int64_t depth = 0;
    std::string best;       // the engine's best move (UCI), when legal there
    std::int64_t best_score = 0;
    std::int64_t best_depth = 0;
    MistakeLevel level = MistakeLevel::NONE;
};

// The game written again as PGN with everything it held (tags, comments
// whole with their commands, marks, variations), and for each searched
// move its evaluation, "[%eval 0.35,18]" from white's view in place of one
// it had; a move judged an inaccuracy, mistake or blunder gets its NAG
// ($6, $2, $4) unless it had a mark, and the best move with its evaluation
// as its first variation. `game` is null for a record, whose SAN the table
// holds; the game was played from start.
void write_annotated_pgn(const std::vector<Tag>& tags, const PgnGame* game, const std::string& result,
                         const Board& start, const MoveTable& table, const std::vector<MoveVerdict>& verdicts,
                         Output& out);

// ---- Mistakes ----

// The worst mark among a move's NAGs: ?! (6), ? (2) or ?? (4).
MistakeLevel mistake_of(const std::vector<std::uint8_t>& nags);

// The NAG of a level's mark: 6, 2 or 4; 0 for NONE.
std::uint8_t nag_of(MistakeLevel level);

// One position to find the move in.
struct WorksheetTask {
    std::int64_t game = 0;   // its number in the file
    std::string players;     // "White - Black"
    std::int64_t index = 0;  // the marked half-move; white's move m is 2m - 1
    Board before;            // the position before it
    std::string played;      // the move in caption form: "24. Qxe5?? -7.04"
    std::string best;        // the annotator's better move, "24. Nf3 +0.80"; empty if none
};

// Marked moves of each side of a game, white's first.
struct SideCounts {
    std::int64_t inaccuracies = 0;
    std::int64_t mistakes = 0;
    std::int64_t blunders = 0;
};

// Adds the tasks of a game played from start into table, in the order of
// its moves: every move marked at the level or worse, of the player whose
// White or Black tag holds `player` when one is given. Counts every marked
// move of each side into counts, whatever the level.
void add_worksheet_tasks(const PgnGame& game, const Board& start, const MoveTable& table,
                         MistakeLevel level, const std::optional<std::string>& player,
                         std::vector<WorksheetTask>& tasks, SideCounts (&counts)[2]);

// "1. 24. Nf3 +0.80 (played 24. Qxe5?? -7.04)", or, with no better move
// given, "1. No better move is given (played 24. Qxe5?? -7.04)".
std::string answer_text(const WorksheetTask& task, std::size_t number);

// Counts a move of that level into its side's counts.
void add_mistake(SideCounts& counts, MistakeLevel level);

// "1 inaccuracy, 2 mistakes, 0 blunders".
std::string counts_text(const SideCounts& counts);

// Each side's verdicts: its counts, and its average centipawn loss, the
// mean over its searched moves of the best move's score less the played
// one's, each held within 0 and 1000.
struct SideSummary {
    SideCounts counts;
    std::int64_t loss = 0;
    std::int64_t moves = 0;
};
void summarise(const std::vector<MoveVerdict>& verdicts, std::int64_t first, SideSummary (&sides)[2]);

} // namespace tavrik
