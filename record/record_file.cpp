// The record file reader: header lines, then move lines into the table.
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "record/record.h"

namespace tavrik {

namespace {

bool is_blank_line(std::string_view line) {
    return line.find_first_not_of(' ') == std::string_view::npos;
}

// The end of the token at p: the next space or the end of the line.
const char* token_end(const char* p, const char* end) {
    while (p < end && *p != ' ')
        ++p;
    return p;
}

const char* skip_spaces(const char* p, const char* end) {
    while (p < end && *p == ' ')
        ++p;
    return p;
}

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The number of the token at p, converted from there as parse_decimal
// converts it; moves p on to the next token. Digits and a sign hold no
// space, so the token goes on where the conversion stopped and is walked
// once. Only a token that starts with other white space can have its
// number after it, and is walked from its start.
std::int64_t take_number(const char*& p, const char* end) {
    const char* stop = p;
    const std::int64_t value = parse_decimal(p, &stop);
    p = skip_spaces(token_end(is_c_space(*p) ? p : stop, end), end);
    return value;
}

// Reads one half-move (move text and four numbers) at p into the next
// slot of the table; leaves p on the token after it or at the end.
void read_half_move(const char*& p, const char* end, Colour colour, MoveTable& table) {
    const char* const text_end = token_end(p, end);
    const std::string_view token(p, static_cast<std::size_t>(text_end - p));
    const DecodedMove decoded = decode_move_text(token, colour);
    p = skip_spaces(text_end, end);

    HalfMove half_move;
    half_move.move = decoded.move;
    half_move.flags = decoded.flags;
    // The line is NUL-terminated (LineReader), so no conversion runs past it.
    half_move.score = take_number(p, end);
    half_move.number2 = take_number(p, end);
    half_move.number3 = take_number(p, end);
    half_move.time = take_number(p, end);

    table.half_moves.push_back(half_move);
    if (decoded.flags & INVALID_BIT)
        table.invalid_texts.emplace(table.end() - 1, token);
}

void add_missing_half_move(MoveTable& table) {
    table.half_moves.push_back(HalfMove{0, INVALID_BIT});
    table.invalid_texts.emplace(table.end() - 1, std::string());
}

// The newlines among the bytes, counted eight bytes at a time: this pass
// over a long record cost as much as reading its numbers.
std::size_t count_newlines(const char* bytes, std::size_t size) {
    constexpr std::uint64_t ONES = 0x0101010101010101;
    constexpr std::uint64_t LOW_SEVEN = 0x7F7F7F7F7F7F7F7F;
    constexpr std::uint64_t HIGH = 0x8080808080808080;
    std::size_t count = 0;
    std::size_t k = 0;
    while (k + 8 <= size) {
        // Per byte, 1 for a newline; at most 255 words before the bytes
        // are summed, so that none of them overflows.
        std::uint64_t per_byte = 0;
        for (int words = 0; words < 255 && k + 8 <= size; ++words, k += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + k, sizeof word);
            const std::uint64_t x = word ^ (ONES * '\n');
            // The high bit of each byte of x that is not zero.
            const std::uint64_t nonzero = ((x & LOW_SEVEN) + LOW_SEVEN) | x;
            per_byte += (~nonzero & HIGH) >> 7;
        }
        count += static_cast<std::size_t>((per_byte * ONES) >> 56);
    }
    for (; k < size; ++k)
        count += bytes[k] == '\n' ? 1 : 0;
    return count;
}

bool is_regular_file(std::FILE* file) {
    struct stat status {};
    return ::fstat(::fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

// Reserves two half-moves per line left in a regular file, the most it
// can hold: growing the table by doubling would copy it and, for a moment,
// hold it twice. Other files (pipes, terminals) grow the table as read.
void reserve_for_lines(std::FILE* file, MoveTable& table) {
    const long start = std::ftell(file);
    if (start < 0)
        return;
    constexpr std::size_t CHUNK = std::size_t{256} * 1024;
    const auto chunk = std::make_unique_for_overwrite<char[]>(CHUNK);
    std::size_t lines = 1;
    std::size_t got = 0;
    while ((got = std::fread(chunk.get(), 1, CHUNK, file)) > 0)
        lines += count_newlines(chunk.get(), got);
    if (std::ferror(file) || std::fseek(file, start, SEEK_SET) != 0) {
        // The reading proper will meet the same trouble and report it.
        return;
    }
    // Lines are an upper bound, far above the truth for a file of blank
    // lines; without the memory for it the table grows as read instead.
    try {
        table.half_moves.reserve(2 * lines);
    } catch (const std::bad_alloc&) {
    }
}

// The lines of a regular file, read in blocks of 256 KiB and handed out
// in place, as LineReader hands them out. getline's copying of every line
// was a fifth of the reading of a long record. Only for regular files:
// a block read from a terminal or a pipe would wait for more than a line,
// and reading stops at a blank line that may come long before the end.
class BlockLineReader {
public:
    bool next(std::FILE* file, std::string_view& line);
    [[nodiscard]] int error() const { return error_; }

private:
    bool read_more(std::FILE* file);

    std::unique_ptr<char[]> block_;
    std::size_t capacity_ = 0; // one byte is always kept for a final NUL
    std::size_t begin_ = 0;    // the next line starts here
    std::size_t end_ = 0;      // the bytes read end here
    bool at_end_ = false;
    int error_ = 0;
};

bool BlockLineReader::next(std::FILE* file, std::string_view& line) {
    for (;;) {
        char* const start = block_.get() + begin_;
        // Before the first read the block is null, which memchr may not see.
        auto* newline = begin_ < end_ ? static_cast<char*>(std::memchr(start, '\n', end_ - begin_)) : nullptr;
        if (newline == nullptr && at_end_ && begin_ < end_)
            newline = block_.get() + end_; // the last line, without its newline
        if (newline != nullptr) {
            auto length = static_cast<std::size_t>(newline - start);
            begin_ = std::min(begin_ + length + 1, end_);
            *newline = '\0';
            if (length > 0 && start[length - 1] == '\r')
                start[--length] = '\0';
            line = std::string_view(start, length);
            return true;
        }
        if (at_end_ || !read_more(file))
            return false;
    }
}

// Moves the unfinished line to the front, grows the block if the line
// fills it, and reads what fits after it.
bool BlockLineReader::read_more(std::FILE* file) {
    constexpr std::size_t BLOCK = std::size_t{256} * 1024;
    const std::size_t kept = end_ - begin_;
    if (kept + 1 >= capacity_) {
        const std::size_t capacity = std::max(BLOCK, 2 * capacity_);
        try {
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            if (kept > 0)
                std::memcpy(grown.get(), block_.get() + begin_, kept);
            block_ = std::move(grown);
        } catch (const std::bad_alloc&) {
            error_ = ENOMEM;
            return false;
        }
        capacity_ = capacity;
    } else if (kept > 0) {
        std::memmove(block_.get(), block_.get() + begin_, kept);
    }
    begin_ = 0;
    end_ = kept;
    errno = 0;
    const std::size_t got = std::fread(block_.get() + end_, 1, capacity_ - 1 - end_, file);
    end_ += got;
    if (got == 0) {
        if (std::ferror(file)) {
            error_ = errno != 0 ? errno : EIO;
            return false;
        }
        at_end_ = true;
    }
    return true;
}

// Reads the record's lines from any reader with LineReader's contract.
template <class Reader>
int read_record_lines(std::FILE* file, Reader& reader, MoveTable& table) {
    std::string_view line;
    for (int header = 0; header < 2; ++header) {
        if (!reader.next(file, line))
            return reader.error();
        try {
            table.headers.emplace_back(line);
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
    }

    // White's move was the last text on the previous line; black's slot is
    // only filled if another move line follows.
    bool black_missing = false;
    try {
        while (reader.next(file, line) && !is_blank_line(line)) {
            if (black_missing)
                add_missing_half_move(table);
            const char* const end = line.data() + line.size();
            const char* p = skip_spaces(line.data(), end);
            read_half_move(p, end, WHITE, table);
            black_missing = p == end;
            if (!black_missing)
                read_half_move(p, end, BLACK, table);
        }
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    return reader.error();
}

} // namespace

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

void* allocate_table_memory(std::size_t bytes) {
    void* block = nullptr;
    if (bytes < HUGE_PAGE) {
        block = std::malloc(bytes);
    } else {
        const std::size_t size = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
        block = std::aligned_alloc(HUGE_PAGE, size);
        // Only advice: where huge pages are off, the table is as before.
        if (block != nullptr)
            ::madvise(block, size, MADV_HUGEPAGE);
    }
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void free_table_memory(void* block) noexcept { std::free(block); }

LineReader::~LineReader() { std::free(buffer_); }

bool LineReader::next(std::FILE* file, std::string_view& line) {
    errno = 0;
    const ssize_t got = ::getline(&buffer_, &capacity_, file);
    if (got < 0) {
        if (std::ferror(file) || !std::feof(file))
            error_ = errno != 0 ? errno : EIO;
        return false;
    }
    auto length = static_cast<std::size_t>(got);
    if (length > 0 && buffer_[length - 1] == '\n')
        buffer_[--length] = '\0';
    if (length > 0 && buffer_[length - 1] == '\r')
        buffer_[--length] = '\0';
    line = std::string_view(buffer_, length);
    return true;
}

std::int64_t parse_decimal(const char* text, const char** stop) {
    // By hand rather than strtoll: this runs for every number of a record
    // and dominated the reading of long ones.
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t limit = negative ? max + 1 : max;
    std::uint64_t magnitude = 0;
    // Eighteen digits cannot overflow, so only longer numbers pay for the
    // division that guards against it.
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && digits < 18; ++text, ++digits)
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(*text - '0');
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (stop != nullptr)
        *stop = text;
    return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

int read_record_file(std::FILE* file, MoveTable& table) {
    if (is_regular_file(file)) {
        reserve_for_lines(file, table);
        BlockLineReader reader;
        return read_record_lines(file, reader, table);
    }
    LineReader reader;
    return read_record_lines(file, reader, table);
}

} // namespace tavrik
