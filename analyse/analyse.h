// The analysis of games, beyond what each move's numbers say: which
// moves went wrong, and the worksheet of their positions.
//
// Offers:
// - MistakeLevel and mistake_of: the marks players give a move that went
//   wrong, ?! (an inaccuracy), ? (a mistake) and ?? (a blunder);
// - WorksheetTask, add_worksheet_tasks and answer_text: the positions
//   before the moves of a game marked as wrong, each with the move played
//   and the better one its annotator gave, and how a worksheet answers it;
// - SideCounts and counts_text: each side's marked moves of a game.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"

namespace tavrik {

// From the mildest on: a worksheet at a level takes the moves marked at
// that level or worse.
enum class MistakeLevel : std::uint8_t { NONE, INACCURACY, MISTAKE, BLUNDER };

// The worst mark among a move's NAGs: ?! (6), ? (2) or ?? (4).
MistakeLevel mistake_of(const std::vector<std::uint8_t>& nags);

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

// "1 inaccuracy, 2 mistakes, 0 blunders".
std::string counts_text(const SideCounts& counts);

} // namespace tavrik
