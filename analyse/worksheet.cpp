// The worksheet: the positions where a game turned, and their answers.
#include <algorithm>
#include <array>

#include "analyse/analyse.h"
#include "sheet/sheet.h"

namespace tavrik {

namespace {

// The NAG of each level, NONE's none.
constexpr std::array<std::uint8_t, 4> LEVEL_NAGS = {0, 6, 2, 4};

// "24. Nf3" or "24... Nf3" for the move of half-move index i.
std::string numbered(std::int64_t i, std::string_view move) {
    std::string text = move_number_text(i) + ' ';
    text += move;
    return text;
}

// The evaluation a comment gave, from white's view, after a space.
std::string evaluation_of(const CommentValues& values, Colour mover) {
    if (!values.score)
        return {};
    const std::int64_t white = values.score_from_white || mover == WHITE ? *values.score : -*values.score;
    std::string text(1, ' ');
    text += evaluation_text(white);
    return text;
}

std::string counted(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::uint8_t nag_of(MistakeLevel level) { return LEVEL_NAGS[static_cast<std::size_t>(level)]; }

MistakeLevel mistake_of(const std::vector<std::uint8_t>& nags) {
    MistakeLevel worst = MistakeLevel::NONE;
    for (const std::uint8_t nag : nags)
        for (const MistakeLevel level : {MistakeLevel::INACCURACY, MistakeLevel::MISTAKE, MistakeLevel::BLUNDER})
            if (nag == nag_of(level))
                worst = std::max(worst, level);
    return worst;
}

void add_mistake(SideCounts& counts, MistakeLevel level) {
    counts.inaccuracies += level == MistakeLevel::INACCURACY ? 1 : 0;
    counts.mistakes += level == MistakeLevel::MISTAKE ? 1 : 0;
    counts.blunders += level == MistakeLevel::BLUNDER ? 1 : 0;
}

void add_worksheet_tasks(const PgnGame& game, const Board& start, const MoveTable& table,
                         MistakeLevel level, const std::optional<std::string>& player,
                         std::vector<WorksheetTask>& tasks, SideCounts (&counts)[2]) {
    const bool white_wanted = !player || holds_name(tag_value(game, "White"), *player);
    const bool black_wanted = !player || holds_name(tag_value(game, "Black"), *player);
    Board board = start;
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        const PgnMove& move = game.moves[static_cast<std::size_t>(i - table.first)];
        const MistakeLevel mistake = mistake_of(move.nags);
        add_mistake(counts[board.side == WHITE ? 0 : 1], mistake);
        if (mistake != MistakeLevel::NONE && mistake >= level && (board.side == WHITE ? white_wanted : black_wanted)) {
            WorksheetTask& task = tasks.emplace_back();
            task.game = game.number;
            task.players = players_of(game);
            task.index = i;
            task.before = board;
            const auto k = static_cast<std::size_t>(i - table.first);
            task.played = numbered(i, table.san[k]) + (k < table.notes.size() ? table.notes[k].marks : "") +
                          evaluation_of(move.values, board.side);
            // The annotator's better move: the first move of its first
            // variation, in standard notation where it is legal here.
            if (!move.variations.empty() && !game.variations[move.variations.front()].moves.empty()) {
                const PgnMove& better = game.variations[move.variations.front()].moves.front();
                task.best = numbered(i, san_or_text(board, better.text)) + evaluation_of(better.values, board.side);
            }
        }
        replay_half_move(board, table, i);
    }
}

std::string answer_text(const WorksheetTask& task, std::size_t number) {
    std::string text = std::to_string(number) + ". ";
    text += task.best.empty() ? "No better move is given" : task.best;
    text += " (played " + task.played + ")";
    return text;
}

std::string counts_text(const SideCounts& counts) {
    return counted(counts.inaccuracies, "inaccuracy", "inaccuracies") + ", " +
           counted(counts.mistakes, "mistake", "mistakes") + ", " + counted(counts.blunders, "blunder", "blunders");
}

} // namespace tavrik
