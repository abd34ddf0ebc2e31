// Move text: coordinate text and castling words to move codes and back,
// move numbers, and the players and event a record's header names.
#include <algorithm>
#include <array>
#include <optional>

#include "record/record.h"

namespace tavrik {

namespace {

constexpr std::string_view FILE_LETTERS = "abcdefgh";
constexpr std::string_view RANK_DIGITS = "12345678";
// Indexed by Piece; the space at EMPTY never matches a letter.
constexpr std::string_view PROMOTION_LETTERS = " pnbrqk";

// Character k of the token, a space past its end.
char char_at(std::string_view token, std::size_t k) {
    return k < token.size() ? token[k] : ' ';
}

bool is_file_letter(char c) { return c >= 'a' && c <= 'h'; }
bool is_rank_digit(char c) { return c >= '1' && c <= '8'; }

// From byte at on, so that a message can be built in place.
void make_printable(std::string& text, std::size_t at = 0) {
    for (std::size_t i = at; i < text.size(); ++i)
        if (text[i] < ' ' || text[i] > '~')
            text[i] = '?';
}

// The first kept text at index or after it.
template <typename Texts>
auto first_from(Texts& texts, std::int64_t index) {
    return std::lower_bound(texts.begin(), texts.end(), index,
                            [](const InvalidText& kept, std::int64_t k) { return kept.index < k; });
}

} // namespace

DecodedMove decode_move_text(std::string_view token, Colour colour) {
    const char c0 = char_at(token, 0);
    const char c1 = char_at(token, 1);
    const char c2 = char_at(token, 2);
    const char c3 = char_at(token, 3);
    const char c4 = char_at(token, 4);

    // "o-o-o" is told by its fifth character, so test it before "o-o".
    if (c4 == 'o')
        return {colour == BLACK ? BLACK_QUEEN_SIDE : WHITE_QUEEN_SIDE, 0};
    if (c0 == 'o')
        return {colour == BLACK ? BLACK_KING_SIDE : WHITE_KING_SIDE, 0};

    if (!is_file_letter(c0) || !is_rank_digit(c1) || !is_file_letter(c2) ||
        !is_rank_digit(c3))
        return {0, INVALID_BIT};

    DecodedMove decoded;
    decoded.move = make_move(make_square(c0 - 'a', c1 - '1'),
                             make_square(c2 - 'a', c3 - '1'));
    const std::size_t piece = PROMOTION_LETTERS.find(c4, 1);
    if (piece != std::string_view::npos)
        decoded.flags = static_cast<MoveFlags>(PROMOTION_BIT | piece);
    return decoded;
}

std::array<char, 4> move_coordinates(Square from, Square to) {
    return {FILE_LETTERS[static_cast<std::size_t>(file_of(from))],
            RANK_DIGITS[static_cast<std::size_t>(rank_of(from))],
            FILE_LETTERS[static_cast<std::size_t>(file_of(to))],
            RANK_DIGITS[static_cast<std::size_t>(rank_of(to))]};
}

std::string format_move(Square from, Square to) {
    if (from == to)
        return {};
    const std::array<char, 4> text = move_coordinates(from, to);
    return {text.data(), text.size()};
}

// By value: a text built for the message is made printable in place.
std::string printable_text(std::string text) {
    make_printable(text);
    return text;
}

void add_printable_excerpt(std::string& message, std::string_view text) {
    const std::size_t at = message.size();
    const bool cut = text.size() > 40;
    message.reserve(at + (cut ? 43 : text.size())); // the "..." too, without growing
    message += text.substr(0, 40);
    make_printable(message, at);
    if (cut)
        message += "...";
}

std::string coordinate_text(MoveCode move, MoveFlags flags) {
    const std::array<char, 4> squares = move_coordinates(from_square(move), to_square(move));
    std::string text(squares.data(), squares.size());
    if (flags & PROMOTION_BIT)
        text += PROMOTION_LETTERS[flags & PROMOTION_PIECE_MASK];
    return text;
}

void add_invalid_text(std::vector<InvalidText>& texts, std::int64_t index, std::string_view text) {
    // A record's texts come in order; only the half-move a part of a
    // record read in parts left to the next comes later.
    if (texts.empty() || texts.back().index < index) {
        // Room for the few of a typical damaged record at once.
        if (texts.capacity() == 0)
            texts.reserve(16);
        texts.push_back({index, std::string(text)});
        return;
    }
    const auto at = first_from(texts, index);
    if (at == texts.end() || at->index != index)
        texts.insert(at, {index, std::string(text)});
}

std::string_view invalid_text_of(const MoveTable& table, std::int64_t i) {
    const auto at = first_from(table.invalid_texts, i);
    return at == table.invalid_texts.end() || at->index != i ? std::string_view() : at->text;
}

std::string move_text_of(const MoveTable& table, std::int64_t i) {
    if (!table.san.empty())
        return table.san[static_cast<std::size_t>(i - table.first)];
    const HalfMove& half_move = table.at(i);
    if (half_move.flags & INVALID_BIT)
        return printable_text(std::string(invalid_text_of(table, i)));
    return format_move(from_square(half_move.move), to_square(half_move.move));
}

HeaderFields header_fields(const MoveTable& table) {
    std::string_view line = table.headers.empty() ? std::string_view() : table.headers[0];
    std::array<std::string_view, 3> parts{};
    for (std::string_view& part : parts) {
        const std::size_t comma = line.find(", ");
        part = line.substr(0, comma);
        line.remove_prefix(comma == std::string_view::npos ? line.size() : comma + 2);
    }
    HeaderFields fields{parts[0], std::nullopt, parts[1], parts[2]};
    if (const std::size_t dash = parts[0].find(" - "); dash != std::string_view::npos) {
        fields.white = parts[0].substr(0, dash);
        fields.black = parts[0].substr(dash + 3);
    }
    return fields;
}

std::string move_number_text(std::int64_t i) {
    return std::to_string((i + 1) / 2) + (i % 2 != 0 ? "." : "...");
}

std::string move_label(const MoveTable& table, std::int64_t i) {
    return (i % 2 != 0 ? std::to_string((i + 1) / 2) : move_number_text(i)) + " " + move_text_of(table, i);
}

} // namespace tavrik
