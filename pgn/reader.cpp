// The PGN reader: tag sections and movetext, one game at a time.
#include <algorithm>

#include "pgn/pgn.h"

namespace tavrik {

namespace {

// Variations nested deeper are skipped: the reader recurses into them.
constexpr int MAX_VARIATION_DEPTH = 64;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_digit(c) || c == '_';
}
bool ends_token(char c) {
    switch (c) {
    case '{': case '}': case '(': case ')': case '[': case ']': case ';': case '$':
        return true;
    default:
        return is_space(c);
    }
}

bool is_result(std::string_view token) {
    return token == "1-0" || token == "0-1" || token == "1/2-1/2" || token == "*";
}

bool is_mark(std::string_view token) { return token.find_first_not_of("!?") == std::string_view::npos; }

// The move in a token, without a move number glued before it ("12." and
// "12..."); empty when the token is a move number alone. "0000" is a null
// move, "0-0" castling.
std::string_view without_move_number(std::string_view token) {
    if (!is_digit(token.front()) || token.substr(0, 3) == "0-0" || token == "0000")
        return token;
    const std::size_t digits = token.find_first_not_of("0123456789");
    if (digits == std::string_view::npos)
        return {};
    if (token[digits] == '.')
        token.remove_prefix(std::min(token.find_first_not_of('.', digits), token.size()));
    return token;
}

// A new move of that text, with the NAG of a mark written after it.
void add_move(std::vector<PgnMove>& moves, std::string_view text, bool annotate) {
    PgnMove& move = moves.emplace_back();
    move.text = text;
    if (!annotate)
        return;
    const std::size_t bare = without_marks(text).size();
    if (bare < text.size())
        if (const int nag = nag_of_mark(text.substr(bare)); nag != 0)
            move.nags.push_back(static_cast<std::uint8_t>(nag));
}

// The number after a '$' at pos, which it passes; 0 when over 255.
int read_nag(std::string_view line, std::size_t& pos) {
    int nag = 0;
    for (++pos; pos < line.size() && is_digit(line[pos]); ++pos)
        nag = std::min(nag * 10 + (line[pos] - '0'), 256);
    return nag > 255 ? 0 : nag;
}

} // namespace

std::string_view tag_value(const PgnGame& game, std::string_view name) {
    for (const Tag& tag : game.tags)
        if (tag.name == name)
            return tag.value;
    return "?";
}

bool holds_name(std::string_view field, std::string_view name) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    return std::search(field.begin(), field.end(), name.begin(), name.end(),
                       [&](char a, char b) { return fold(a) == fold(b); }) != field.end();
}

std::string players_of(const PgnGame& game) {
    std::string players(tag_value(game, "White"));
    players += " - ";
    players += tag_value(game, "Black");
    return players;
}

bool PgnReader::fill() {
    while (!have_line_ || pos_ >= line_.size()) {
        if (!lines_.next(file_, line_)) {
            have_line_ = false;
            return false;
        }
        have_line_ = true;
        pos_ = 0;
        if (first_line_ && line_.substr(0, 3) == "\xEF\xBB\xBF")
            pos_ = 3;
        first_line_ = false;
        ++line_number_;
        // An escape line is for other programs.
        if (pos_ < line_.size() && line_[pos_] == '%')
            pos_ = line_.size();
    }
    return true;
}

bool PgnReader::at_tag_line() const {
    // '[', a name, then a quoted value: the start of a tag section.
    std::size_t k = line_.find_first_not_of(" \t");
    if (k == std::string_view::npos || line_[k] != '[')
        return false;
    ++k;
    const std::size_t name = k;
    while (k < line_.size() && is_name_char(line_[k]))
        ++k;
    if (k == name)
        return false;
    while (k < line_.size() && is_space(line_[k]))
        ++k;
    return k < line_.size() && line_[k] == '"';
}

void PgnReader::skip_to_next_tag_section(bool in_movetext) {
    // Tags left in the broken section belong to the broken game; a '['
    // line after anything else starts the next one.
    bool past_section = in_movetext;
    pos_ = line_.size();
    while (fill()) {
        const std::size_t first = line_.find_first_not_of(" \t", pos_);
        const bool tag_line = first != std::string_view::npos && line_[first] == '[';
        if (tag_line && past_section) {
            pos_ = first;
            return;
        }
        if (!tag_line)
            past_section = true;
        pos_ = line_.size();
    }
}

bool PgnReader::read_tag(PgnGame& game) {
    const std::string_view line = line_;
    const std::size_t start = pos_;
    const auto broken = [&](const char* why) {
        game.damage = why;
        game.damage += " in ";
        add_printable_excerpt(game.damage, line.substr(start));
        return false;
    };
    ++pos_;
    while (pos_ < line.size() && is_space(line[pos_]))
        ++pos_;
    const std::size_t name = pos_;
    while (pos_ < line.size() && is_name_char(line[pos_]))
        ++pos_;
    if (pos_ == name)
        return broken("tag pair without a name");
    Tag tag;
    tag.name = line.substr(name, pos_ - name);
    while (pos_ < line.size() && is_space(line[pos_]))
        ++pos_;
    if (pos_ >= line.size() || line[pos_] != '"')
        return broken("tag pair without a quoted value");
    // The value is taken in runs between escapes, not a letter at a time.
    std::size_t run = ++pos_;
    for (;; ++pos_) {
        if (pos_ >= line.size())
            return broken("unclosed string in tag pair");
        if (line[pos_] == '"')
            break;
        if (line[pos_] == '\\' && pos_ + 1 < line.size()) {
            tag.value += line.substr(run, pos_ - run);
            run = ++pos_;
        }
    }
    tag.value += line.substr(run, pos_ - run);
    ++pos_;
    while (pos_ < line.size() && is_space(line[pos_]))
        ++pos_;
    if (pos_ >= line.size() || line[pos_] != ']')
        return broken("missing ']' in tag pair");
    ++pos_;
    game.tags.push_back(std::move(tag));
    return true;
}

bool PgnReader::read_comment(std::string* text, std::string& damage) {
    for (;;) {
        const std::size_t close = line_.find('}', pos_);
        const std::string_view part =
            line_.substr(pos_, close == std::string_view::npos ? std::string_view::npos : close - pos_);
        if (text != nullptr)
            text->append(part);
        if (close != std::string_view::npos) {
            pos_ = close + 1;
            return true;
        }
        // A line break inside a comment is a space.
        if (text != nullptr)
            *text += ' ';
        pos_ = line_.size();
        if (!fill() || (pos_ == 0 && at_tag_line())) {
            damage = "unclosed comment";
            return false;
        }
    }
}

bool PgnReader::skip_variation(std::string& damage) {
    int depth = 1;
    for (;;) {
        const std::int64_t line_before = line_number_;
        if (!fill() || (line_number_ != line_before && pos_ == 0 && at_tag_line())) {
            damage = "unclosed variation";
            return false;
        }
        const char c = line_[pos_++];
        if (c == '{') {
            if (!read_comment(nullptr, damage))
                return false;
        } else if (c == ';') {
            pos_ = line_.size();
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return true;
        }
    }
}

std::string_view PgnReader::next_token() {
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !ends_token(line_[pos_]))
        ++pos_;
    if (pos_ == start) // a lone delimiter such as ']'
        ++pos_;
    return line_.substr(start, pos_ - start);
}

// NOLINTNEXTLINE(misc-no-recursion): as deep as MAX_VARIATION_DEPTH
bool PgnReader::read_variation(std::vector<PgnVariation>& variations, std::size_t which, int depth,
                               std::string& damage) {
    for (;;) {
        // Looked up afresh: a nested variation grows the list.
        PgnVariation& variation = variations[which];
        std::vector<PgnMove>& moves = variation.moves;
        const std::int64_t line_before = line_number_;
        if (!fill() || (line_number_ != line_before && pos_ == 0 && at_tag_line())) {
            damage = "unclosed variation";
            return false;
        }
        const char c = line_[pos_];
        if (is_space(c)) {
            ++pos_;
        } else if (c == '{' || c == ';') {
            ++pos_;
            comment_.clear();
            if (c == ';') {
                comment_.assign(line_.substr(pos_));
                pos_ = line_.size();
            } else if (!read_comment(&comment_, damage)) {
                return false;
            }
            if (raw_)
                (moves.empty() ? variation.raw_comments : moves.back().raw_comments).push_back(comment_);
            if (moves.empty()) {
                comment_words(comment_, variation.comment);
            } else {
                // A worksheet's answer is a variation's first move, with its evaluation.
                const std::size_t numbers = read_comment_values(comment_, moves.back().values);
                comment_words(comment_, moves.back().comment, numbers);
            }
        } else if (c == '(') {
            ++pos_;
            if (moves.empty() || depth >= MAX_VARIATION_DEPTH) {
                if (!skip_variation(damage))
                    return false;
                continue;
            }
            moves.back().variations.push_back(variations.size());
            variations.emplace_back();
            if (!read_variation(variations, variations.size() - 1, depth + 1, damage))
                return false;
        } else if (c == ')') {
            ++pos_;
            return true;
        } else if (c == '$') {
            const int nag = read_nag(line_, pos_);
            if (nag != 0 && !moves.empty())
                moves.back().nags.push_back(static_cast<std::uint8_t>(nag));
        } else {
            const std::string_view token = next_token();
            if (is_mark(token)) {
                if (const int nag = nag_of_mark(token); nag != 0 && !moves.empty())
                    moves.back().nags.push_back(static_cast<std::uint8_t>(nag));
            } else if (const std::string_view move = without_move_number(token); !move.empty() && !is_result(move)) {
                add_move(moves, move, true);
            }
        }
    }
}

bool PgnReader::next_game(PgnGame& game, bool keep_moves) {
    // Room for the tags of a server's export (near twenty) and the
    // half-moves of all but the longest games (128 moves), so that the
    // lists seldom grow; a game read after this one keeps what it has.
    if (game.tags.capacity() == 0)
        game.tags.reserve(24);
    if (keep_moves && game.moves.capacity() == 0)
        game.moves.reserve(256);
    game.tags.clear();
    game.moves.clear();
    game.variations.clear();
    game.comment.clear();
    game.raw_comments.clear();
    game.result.clear();
    game.damage.clear();
    const bool annotate = keep_moves && annotations_;
    bool movetext = false; // a move or result seen
    bool tags_seen = false;

    while (fill()) {
        const char c = line_[pos_];
        if (is_space(c)) {
            ++pos_;
            continue;
        }
        if (c == '[') {
            if (movetext)
                break; // the next game's tags: this one had no result
            tags_seen = true;
            if (!read_tag(game)) {
                skip_to_next_tag_section(false);
                break;
            }
            continue;
        }
        if (c == '{' || c == ';') {
            std::string& comment = comment_;
            comment.clear();
            PgnMove* after = game.moves.empty() ? nullptr : &game.moves.back();
            const bool keep = after != nullptr ? keep_moves : annotate;
            ++pos_;
            if (c == ';') {
                if (keep)
                    comment.assign(line_.substr(pos_));
                pos_ = line_.size();
            } else if (!read_comment(keep ? &comment : nullptr, game.damage)) {
                break;
            }
            std::optional<std::size_t> numbers;
            if (keep && after != nullptr)
                numbers = read_comment_values(comment, after->values);
            if (keep && annotate)
                comment_words(comment, after != nullptr ? after->comment : game.comment, numbers);
            if (keep && annotate && raw_)
                (after != nullptr ? after->raw_comments : game.raw_comments).push_back(comment);
            continue;
        }
        if (c == '(') {
            ++pos_;
            if (!annotate || game.moves.empty()) {
                if (!skip_variation(game.damage))
                    break;
                continue;
            }
            game.moves.back().variations.push_back(game.variations.size());
            game.variations.emplace_back();
            if (!read_variation(game.variations, game.variations.size() - 1, 1, game.damage))
                break;
            continue;
        }
        if (c == ')') {
            ++pos_;
            continue;
        }
        if (c == '$') {
            const int nag = read_nag(line_, pos_);
            if (nag != 0 && annotate && !game.moves.empty())
                game.moves.back().nags.push_back(static_cast<std::uint8_t>(nag));
            continue;
        }

        const std::string_view token = next_token();
        // Annotation marks standing apart: "e4 !?".
        if (is_mark(token)) {
            if (const int nag = nag_of_mark(token); nag != 0 && annotate && !game.moves.empty())
                game.moves.back().nags.push_back(static_cast<std::uint8_t>(nag));
            continue;
        }
        movetext = true;
        if (is_result(token)) {
            game.result = token;
            break;
        }
        const std::string_view move = without_move_number(token);
        if (keep_moves && !move.empty())
            add_move(game.moves, move, annotate);
    }

    if (!tags_seen && !movetext && game.damage.empty())
        return false;
    game.number = ++games_;
    return true;
}

} // namespace tavrik
