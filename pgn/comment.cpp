// The numbers in PGN comments, and a half-move's four numbers from them.
#include <algorithm>

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
void read_engine_comment(std::string_view comment, CommentValues& values) {
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
        return;
    const std::optional<std::int64_t> depth = s.digits();
    if (!depth)
        return;
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
    if (s.take('n') && s.take('='))
        keep_first(values.nodes, s.digits());
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

} // namespace

void read_comment_values(std::string_view comment, CommentValues& values) {
    read_engine_comment(comment, values);
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

void fill_numbers(const CommentValues& values, Colour mover, Clocks& clocks, HalfMove& half_move) {
    half_move.score = 0;
    if (values.score)
        half_move.score = values.score_from_white && mover == BLACK ? -*values.score : *values.score;
    half_move.number2 = values.depth.value_or(0);
    half_move.number3 = values.nodes.value_or(0);
    half_move.time = 0;
    std::optional<std::int64_t>& left = clocks.left_ms[mover == BLACK ? 1 : 0];
    if (values.spent_ms)
        half_move.time = *values.spent_ms;
    else if (values.clock_ms && left)
        half_move.time = std::max<std::int64_t>(0, *left - *values.clock_ms + clocks.increment_ms);
    if (values.clock_ms)
        left = values.clock_ms;
}

} // namespace tavrik
