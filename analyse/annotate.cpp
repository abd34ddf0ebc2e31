// Judging moves by their expected scores, and the game written again as
// PGN with what the engines found.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <optional>

#include "analyse/analyse.h"

namespace tavrik {

namespace {

// "0.35,18", "#-3,18": an evaluation from white's view as servers write it.
std::string server_eval(std::int64_t white_score, std::int64_t depth) {
    std::string text = evaluation_text(white_score);
    if (text.front() == '+')
        text.erase(0, 1);
    return "[%eval " + text + "," + std::to_string(depth) + "]";
}

// A comment as written, with nothing that would close it early, and with
// its [%eval] commands replaced by `eval` (when given) or left out.
std::string written(std::string comment, std::optional<std::string_view> eval = std::nullopt) {
    for (std::size_t at = comment.find("[%eval"); eval && at != std::string::npos; at = comment.find("[%eval", at)) {
        const std::size_t close = comment.find(']', at);
        comment.erase(at, close == std::string::npos ? std::string::npos : close + 1 - at);
        comment.insert(at, *eval);
        at += eval->size();
        eval = "";
    }
    std::replace(comment.begin(), comment.end(), '}', ')');
    const std::size_t first = comment.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : comment.substr(first, comment.find_last_not_of(' ') + 1 - first);
}

// Words of PGN movetext, wrapped at 79 columns.
class Movetext {
public:
    explicit Movetext(Output& out) : out_(out) {}
    void word(std::string_view text) {
        if (column_ > 0 && column_ + 1 + text.size() > 79) {
            put_text(out_, "\n");
            column_ = 0;
        } else if (column_ > 0) {
            put_text(out_, " ");
            ++column_;
        }
        put_text(out_, text);
        column_ += text.size();
    }
    void comment(std::string_view text) {
        if (!text.empty())
            word("{ " + std::string(text) + " }");
    }
    void end() {
        if (column_ > 0)
            put_text(out_, "\n");
        column_ = 0;
    }

private:
    Output& out_;
    std::size_t column_ = 0;
};

// The move with its number, when it takes one (white's always, black's
// when due), on one line.
std::string numbered(std::int64_t index, bool& number_due, std::string_view move) {
    std::string text = index % 2 == 1 || number_due ? move_number_text(index) + ' ' : std::string();
    number_due = false;
    text += move;
    return text;
}

// "$14".
std::string nag_word(int nag) {
    std::string word(1, '$');
    word += std::to_string(nag);
    return word;
}

// A move as written, its marks as NAGs.
void put_written(Movetext& text, const PgnMove& move, std::int64_t index, bool& number_due) {
    text.word(numbered(index, number_due, without_marks(move.text)));
    for (const std::uint8_t nag : move.nags)
        text.word(nag_word(nag));
}

// NOLINTNEXTLINE(misc-no-recursion): as deep as the reader kept them
void put_variation(Movetext& text, const std::vector<PgnVariation>& variations, std::size_t which,
                   std::int64_t index) {
    const PgnVariation& variation = variations[which];
    text.word("(");
    for (const std::string& comment : variation.raw_comments)
        text.comment(written(comment));
    bool number_due = true;
    for (const PgnMove& move : variation.moves) {
        put_written(text, move, index, number_due);
        for (const std::string& comment : move.raw_comments)
            text.comment(written(comment));
        number_due = !move.raw_comments.empty();
        for (const std::size_t nested : move.variations) {
            put_variation(text, variations, nested, index);
            number_due = true;
        }
        ++index;
    }
    text.word(")");
}

// "+0.35", "-M3": an engine-match score from the mover's view.
std::string engine_score(std::int64_t score) {
    const std::int64_t magnitude = score < 0 ? -score : score;
    if (magnitude >= 99000 && magnitude <= 100000)
        return std::string(score < 0 ? "-M" : "+M") + std::to_string(100000 - magnitude);
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%s%" PRId64 ".%02" PRId64, score < 0 ? "-" : "+",
                  magnitude / 100, magnitude % 100);
    return text.data();
}

void put_tag(Output& out, std::string_view name, std::string_view value) {
    put_text(out, "[");
    put_text(out, name);
    put_text(out, " \"");
    for (const char c : value) {
        if (c == '"' || c == '\\')
            put_text(out, "\\");
        put_text(out, std::string_view(&c, 1));
    }
    put_text(out, "\"]\n");
}

} // namespace

// The game as PGN: its tags, SAN, and after every searched move an engine
// match's comment with the nodes.
void write_pgn(const std::vector<Tag>& tags, const std::string& result, const MoveTable& table,
               const std::vector<bool>& searched, Output& out) {
    for (const Tag& tag : tags)
        put_tag(out, tag.name, tag.value);
    put_text(out, "\n");
    Movetext text(out);
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        // A move number stays on the line of its move.
        if (i % 2 == 1 || i == table.first)
            text.word(move_number_text(i) + ' ' + move_text_of(table, i));
        else
            text.word(move_text_of(table, i));
        if (!searched[static_cast<std::size_t>(i - table.first)])
            continue;
        const HalfMove& half_move = table.at(i);
        std::array<char, 64> seconds{};
        std::snprintf(seconds.data(), seconds.size(), "%" PRId64 ".%03" PRId64 "s", half_move.time / 1000,
                      half_move.time % 1000);
        std::string comment(1, '{');
        comment += engine_score(half_move.score);
        comment += '/';
        comment += std::to_string(half_move.number2);
        comment += ' ';
        comment += seconds.data();
        comment += " n=";
        comment += std::to_string(half_move.number3);
        comment += '}';
        text.word(comment);
    }
    text.word(result.empty() ? "*" : result);
    text.end();
}

// The seven tags every PGN game has, for a game read from a record.
std::vector<Tag> tags_for_record(const MoveTable& table) {
    return {{"Event", table.headers.empty() ? "?" : table.headers[0]},
            {"Site", "?"},
            {"Date", "????.??.??"},
            {"Round", "?"},
            {"White", "?"},
            {"Black", "?"},
            {"Result", "*"}};
}


std::vector<Tag> tags_of_headers(const MoveTable& table) {
    const HeaderFields fields = header_fields(table);
    const auto known = [](std::string_view field) { return std::string(field.empty() ? "?" : field); };
    return {{"Event", known(fields.event)},
            {"Site", "?"},
            {"Date", known(fields.date)},
            {"Round", "?"},
            {"White", std::string(fields.white)},
            {"Black", std::string(fields.black.value_or("?"))},
            {"Result", table.headers.size() > 1 && !table.headers[1].empty() ? table.headers[1] : "*"}};
}


double expected_score(std::int64_t score) {
    if (score > MATE_SCORE - 1000)
        return 1;
    if (score < -(MATE_SCORE - 1000))
        return 0;
    const double held = static_cast<double>(std::clamp<std::int64_t>(score, -1000, 1000));
    return 1 / (1 + std::exp(-0.00368208 * held));
}

MistakeLevel classify_move(std::int64_t best_score, std::int64_t played_score) {
    const double loss = expected_score(best_score) - expected_score(played_score);
    return loss >= 0.15 ? MistakeLevel::BLUNDER
           : loss >= 0.10 ? MistakeLevel::MISTAKE
           : loss >= 0.05 ? MistakeLevel::INACCURACY
                          : MistakeLevel::NONE;
}

void summarise(const std::vector<MoveVerdict>& verdicts, std::int64_t first, SideSummary (&sides)[2]) {
    for (std::size_t k = 0; k < verdicts.size(); ++k) {
        const MoveVerdict& verdict = verdicts[k];
        if (!verdict.searched)
            continue;
        SideSummary& side = sides[(first + static_cast<std::int64_t>(k)) % 2 == 1 ? 0 : 1];
        add_mistake(side.counts, verdict.level);
        const std::int64_t best = verdict.best.empty() ? verdict.score : verdict.best_score;
        side.loss += std::clamp<std::int64_t>(best - verdict.score, 0, 1000);
        ++side.moves;
    }
}

void write_annotated_pgn(const std::vector<Tag>& tags, const PgnGame* game, const std::string& result,
                         const Board& start, const MoveTable& table, const std::vector<MoveVerdict>& verdicts,
                         Output& out) {
    for (const Tag& tag : tags)
        put_tag(out, tag.name, tag.value);
    put_text(out, "\n");
    Movetext text(out);
    if (game != nullptr)
        for (const std::string& comment : game->raw_comments)
            text.comment(written(comment));
    Board board = start;
    bool number_due = true;
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        const auto k = static_cast<std::size_t>(i - table.first);
        const MoveVerdict& verdict = verdicts[k];
        const PgnMove* move = game != nullptr && k < game->moves.size() ? &game->moves[k] : nullptr;
        const bool white = i % 2 == 1;
        text.word(numbered(i, number_due, table.san[k]));
        const bool has_mark = move != nullptr && std::any_of(move->nags.begin(), move->nags.end(), is_move_mark);
        if (move != nullptr)
            for (const std::uint8_t nag : move->nags)
                text.word(nag_word(nag));
        if (verdict.level != MistakeLevel::NONE && !has_mark)
            text.word(nag_word(nag_of(verdict.level)));
        // The engine's evaluation in place of the first the move had, else
        // in a comment of its own before the move's.
        std::optional<std::string> eval;
        if (verdict.searched)
            eval = server_eval(white ? verdict.score : -verdict.score, verdict.depth);
        const bool had_eval = move != nullptr && std::any_of(move->raw_comments.begin(), move->raw_comments.end(),
                                                            [](const std::string& c) { return c.find("[%eval") != std::string::npos; });
        bool commented = false;
        if (eval && !had_eval) {
            text.comment(*eval);
            commented = true;
            eval.reset();
        }
        if (move != nullptr)
            for (const std::string& comment : move->raw_comments) {
                const std::string kept = written(comment, eval);
                if (eval && comment.find("[%eval") != std::string::npos)
                    eval = std::string();
                text.comment(kept);
                commented = commented || !kept.empty();
            }
        bool varied = false;
        if (verdict.level != MistakeLevel::NONE && !verdict.best.empty()) {
            // The best move, first among the variations, in SAN of the
            // position before the move.
            text.word("(");
            bool first = true;
            text.word(numbered(i, first, san_or_text(board, verdict.best)));
            text.comment(server_eval(white ? verdict.best_score : -verdict.best_score, verdict.best_depth));
            text.word(")");
            varied = true;
        }
        if (move != nullptr)
            for (const std::size_t variation : move->variations) {
                put_variation(text, game->variations, variation, i);
                varied = true;
            }
        number_due = commented || varied;
        replay_half_move(board, table, i);
    }
    text.word(result.empty() ? "*" : result);
    text.end();
}

} // namespace tavrik
