// The numbers in PGN comments, and a half-move's four numbers from them.
#include <algorithm>
#include <array>

#include "pgn/pgn.h"

namespace tavrik {

namespace {

// Far beyond any real value, and far from overflowing when scaled.
constexpr std::int64_t NUMBER_CAP = 1'000'000'000'000'000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

struct Scanner {
    std::string_view text;
    std::size_t pos = 0;

    [[nodiscard]] char peek() const { return pos < text.size() ? text[pos] : '\0'; }
    bool take(char c) {
        if (peek() != c)
            return false;
        ++pos;
        return true;
    }
    void skip_spaces() {
        while (peek() == ' ' || peek() == '\t')
            ++pos;
    }
    // Digits as a number; nullopt without any.
    std::optional<std::int64_t> digits() {
        if (!is_digit(peek()))
            return std::nullopt;
        std::int64_t n = 0;
        while (is_digit(peek())) {
            n = std::min(n * 10 + (text[pos] - '0'), NUMBER_CAP);
            ++pos;
        }
        return n;
    }
    // "12.345" scaled by 10^places, rounded; nullopt without digits.
    std::optional<std::int64_t> decimal(int places) {
        const std::optional<std::int64_t> whole = digits();
        if (!whole)
            return std::nullopt;
        std::int64_t scale = 1;
        for (int k = 0; k < places; ++k)
            scale *= 10;
        std::int64_t n = *whole * scale;
        if (peek() == '.' && pos + 1 < text.size() && is_digit(text[pos + 1])) {
            ++pos;
            std::int64_t unit = scale;
            bool round_up = false;
            for (bool first_dropped = true; is_digit(peek()); ++pos) {
                if (unit > 1) {
                    unit /= 10;
                    n += (text[pos] - '0') * unit;
                } else if (first_dropped) {
                    round_up = text[pos] >= '5';
                    first_dropped = false;
                }
            }
            n += round_up ? 1 : 0;
        }
        return n;
    }
};

template <typename T>
void keep_first(std::optional<T>& slot, std::optional<T> value) {
    if (!slot && value)
        slot = value;
}

// "1:02:03.5", "4:58", "12.5": milliseconds.
std::optional<std::int64_t> clock_time(Scanner& s) {
    std::int64_t total = 0;
    for (int field = 0; field < 3; ++field) {
        const std::size_t start = s.pos;
        const std::optional<std::int64_t> whole = s.digits();
        if (!whole)
            return std::nullopt;
        if (s.peek() == ':') {
            ++s.pos;
            total = std::min((total + *whole) * 60, NUMBER_CAP);
            continue;
        }
        s.pos = start;
        const std::optional<std::int64_t> ms = s.decimal(3);
        return ms ? std::optional<std::int64_t>(std::min(total * 1000 + *ms, NUMBER_CAP))
                  : std::nullopt;
    }
    return std::nullopt;
}

// An engine match's "+0.35/18 1.234s n=6644039" at the comment's start.
// Returns where it ends, 0 when the comment does not start with one.
std::size_t read_engine_comment(std::string_view comment, CommentValues& values) {
    Scanner s{comment};
    s.skip_spaces();
    const bool negative = s.peek() == '-';
    if (s.peek() == '-' || s.peek() == '+')
        ++s.pos;
    std::optional<std::int64_t> score;
    if (s.take('M')) {
        const std::optional<std::int64_t> moves = s.digits();
        if (moves)
            score = MATE_SCORE - std::min<std::int64_t>(*moves, MATE_SCORE);
    } else {
        score = s.decimal(2);
    }
    if (!score || !s.take('/'))
        return 0;
    const std::optional<std::int64_t> depth = s.digits();
    if (!depth)
        return 0;
    if (!values.score) {
        values.score = negative ? -*score : *score;
        values.score_from_white = false;
    }
    keep_first(values.depth, depth);
    s.skip_spaces();
    const std::size_t before_time = s.pos;
    if (const std::optional<std::int64_t> ms = s.decimal(3); ms && s.take('s'))
        keep_first(values.spent_ms, ms);
    else
        s.pos = before_time;
    s.skip_spaces();
    const std::size_t before_nodes = s.pos;
    if (s.take('n') && s.take('='))
        keep_first(values.nodes, s.digits());
    else
        s.pos = before_nodes;
    return s.pos;
}

// The value of "[%eval 0.35]" or "[%eval #-3,20]", from white's view.
void read_eval(Scanner& s, CommentValues& values) {
    s.skip_spaces();
    std::optional<std::int64_t> score;
    if (s.take('#')) {
        const bool negative = s.take('-');
        s.take('+');
        if (const std::optional<std::int64_t> moves = s.digits()) {
            const std::int64_t mate = MATE_SCORE - std::min<std::int64_t>(*moves, MATE_SCORE);
            score = negative ? -mate : mate;
        }
    } else {
        const bool negative = s.take('-');
        if (!negative)
            s.take('+');
        if (const std::optional<std::int64_t> cp = s.decimal(2))
            score = negative ? -*cp : *cp;
    }
    if (!score)
        return;
    if (!values.score) {
        values.score = score;
        values.score_from_white = true;
    }
    if (s.take(','))
        keep_first(values.depth, s.digits());
}

// Marks and judgements by NAG: 1 to 6, then 10 to 19.
constexpr std::array<std::string_view, 7> MARKS = {"", "!", "?", "!!", "??", "!?", "?!"};
constexpr std::array<std::string_view, 10> JUDGEMENTS = {"=", "=", "=", "~", "+=", "=+", "+/-", "-/+", "+-", "-+"};

bool is_judgement(int nag) { return nag >= 10 && nag <= 19; }

// NOLINTNEXTLINE(misc-no-recursion): nested as deep as the reader keeps them
void add_variation(std::string& text, const std::vector<PgnVariation>& variations, std::size_t which,
                   std::int64_t index) {
    const PgnVariation& variation = variations[which];
    text += variation.comment;
    bool number_due = true; // black's move needs its number here
    for (const PgnMove& move : variation.moves) {
        if (!text.empty() && text.back() != '(')
            text += ' ';
        if (index % 2 == 1 || number_due)
            text += move_number_text(index) + ' ';
        text += without_marks(move.text);
        add_marks(text, move.nags);
        number_due = false;
        if (!move.comment.empty()) {
            text += ' ';
            text += move.comment;
            number_due = true;
        }
        for (const std::size_t nested : move.variations) {
            text += " (";
            add_variation(text, variations, nested, index);
            text += ')';
            number_due = true;
        }
        ++index;
    }
}

} // namespace

void add_marks(std::string& text, const std::vector<std::uint8_t>& nags) {
    const auto first = [&](bool (*kind)(int)) {
        return std::find_if(nags.begin(), nags.end(), [&](std::uint8_t nag) { return kind(nag); });
    };
    if (const auto mark = first(is_move_mark); mark != nags.end())
        text += nag_text(*mark);
    if (const auto judgement = first(is_judgement); judgement != nags.end()) {
        text += ' ';
        text += nag_text(*judgement);
    }
}

int nag_of_mark(std::string_view mark) {
    for (std::size_t k = 1; k < MARKS.size(); ++k)
        if (mark == MARKS[k])
            return static_cast<int>(k);
    return 0;
}

std::string_view without_marks(std::string_view text) {
    const std::size_t mark = text.find_last_not_of("!?");
    return text.substr(0, mark == std::string_view::npos ? text.size() : mark + 1);
}

std::string_view nag_text(int nag) {
    if (is_move_mark(nag))
        return MARKS[static_cast<std::size_t>(nag)];
    if (is_judgement(nag))
        return JUDGEMENTS[static_cast<std::size_t>(nag - 10)];
    return {};
}

void comment_words(std::string_view comment, std::string& words, std::optional<std::size_t> numbers) {
    if (!numbers) {
        CommentValues unused;
        numbers = read_engine_comment(comment, unused);
    }
    // By hand: most comments hold nothing but commands, and this runs for
    // every one of them.
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    std::size_t at = *numbers;
    while (at < comment.size()) {
        const char c = comment[at];
        if (space(c)) {
            ++at;
            continue;
        }
        if (c == '[' && at + 1 < comment.size() && comment[at + 1] == '%') {
            const std::size_t close = comment.find(']', at + 2);
            if (close != std::string_view::npos) {
                at = close + 1;
                continue;
            }
        }
        // A word: up to a space or a command.
        const std::size_t start = at;
        while (at < comment.size() && !space(comment[at]) &&
               !(comment[at] == '[' && at + 1 < comment.size() && comment[at + 1] == '%' && at > start))
            ++at;
        if (!words.empty())
            words += ' ';
        words.append(comment.substr(start, at - start));
    }
}

std::string variation_text(const std::vector<PgnVariation>& variations, std::size_t which,
                           std::int64_t index) {
    std::string text;
    add_variation(text, variations, which, index);
    return text;
}

std::size_t read_comment_values(std::string_view comment, CommentValues& values) {
    const std::size_t numbers = read_engine_comment(comment, values);
    for (std::size_t at = comment.find("[%"); at != std::string_view::npos;
         at = comment.find("[%", at + 2)) {
        Scanner s{comment, at + 2};
        const std::string_view rest = comment.substr(at + 2);
        const auto command = [&](std::string_view name) {
            if (rest.substr(0, name.size()) != name)
                return false;
            const std::size_t after = at + 2 + name.size();
            if (after < comment.size() && comment[after] != ' ' && comment[after] != '\t')
                return false;
            s.pos = after;
            s.skip_spaces();
            return true;
        };
        if (command("eval"))
            read_eval(s, values);
        else if (command("emt"))
            keep_first(values.spent_ms, clock_time(s));
        else if (command("clk"))
            keep_first(values.clock_ms, clock_time(s));
    }
    return numbers;
}

TimeControl parse_time_control(std::string_view text) {
    Scanner s{text};
    TimeControl control;
    const std::optional<std::int64_t> base = s.decimal(3);
    if (!base)
        return control;
    std::int64_t increment = 0;
    if (s.take('+')) {
        const std::optional<std::int64_t> added = s.decimal(3);
        if (!added)
            return control;
        increment = *added;
    }
    if (s.pos != text.size())
        return control;
    control.base_ms = base;
    control.increment_ms = increment;
    return control;
}

Clocks clocks_at_start(const TimeControl& control) {
    Clocks clocks;
    clocks.left_ms[WHITE] = control.base_ms;
    clocks.left_ms[BLACK] = control.base_ms;
    clocks.increment_ms = control.increment_ms;
    return clocks;
}

GivenNumbers fill_numbers(const CommentValues& values, Colour mover, Clocks& clocks, HalfMove& half_move) {
    GivenNumbers given = 0;
    half_move.score = 0;
    if (values.score) {
        half_move.score = values.score_from_white && mover == BLACK ? -*values.score : *values.score;
        given |= SCORE_GIVEN;
    }
    half_move.number2 = values.depth.value_or(0);
    half_move.number3 = values.nodes.value_or(0);
    half_move.time = 0;
    std::optional<std::int64_t>& left = clocks.left_ms[mover == BLACK ? 1 : 0];
    if (values.spent_ms) {
        half_move.time = *values.spent_ms;
        given |= TIME_GIVEN;
    } else if (values.clock_ms && left) {
        half_move.time = std::max<std::int64_t>(0, *left - *values.clock_ms + clocks.increment_ms);
        given |= TIME_GIVEN;
    }
    if (values.clock_ms)
        left = values.clock_ms;
    return given;
}

} // namespace tavrik
