// The record file reader: header lines, then move lines into the table.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "record/record.h"
#include "threads/threads.h"

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

// A number of at most eight digits, with or without a sign, converted
// eight bytes at a time: the digits' count from where the first non-digit
// stands, their value by three multiplications. The numbers of a record
// differ in width from one to the next, and a loop over their digits
// mispredicted its end most of the time. Only where the eight bytes lie
// within the line, so none is read past it; false where the general
// conversion is needed (more digits, white space first, too near the
// end), leaving value and stop as they were.
bool read_short_number(const char* p, const char* end, std::int64_t& value, const char*& stop) {
    if (is_c_space(*p))
        return false;
    const bool negative = *p == '-';
    const char* digits = p + (negative || *p == '+' ? 1 : 0);
    if (end - digits < 8)
        return false;
    constexpr std::uint64_t ZEROS = 0x3030303030303030;
    constexpr std::uint64_t HIGH = 0x8080808080808080;
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, digits, sizeof bytes);
    // Per byte its digit, or 10 and more for a non-digit, whose byte then
    // gets its high bit; a carry can only reach the bytes after it.
    const std::uint64_t values = bytes ^ ZEROS;
    const std::uint64_t non_digits = ((values + 0x7676767676767676) | values) & HIGH;
    if (non_digits == 0)
        return false; // eight digits or more
    const int count = std::countr_zero(non_digits) / 8;
    if (count == 0) {
        value = 0;
    } else {
        // The digits moved to the top, zeros before them as leading zeros.
        std::uint64_t v = values << (8 * (8 - count));
        v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
        v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
        v = (v * 10000 + (v >> 32)) & 0xFFFFFFFF;
        value = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
    }
    stop = digits + count;
    return true;
}

// The number of the token at p, converted from there as parse_decimal
// converts it; moves p on to the next token. Digits and a sign hold no
// space, so the token goes on where the conversion stopped and is walked
// once. Only a token that starts with other white space can have its
// number after it, and is walked from its start.
std::int64_t take_number(const char*& p, const char* end) {
    const char* stop = p;
    std::int64_t value = 0;
    if (!read_short_number(p, end, value, stop))
        value = parse_decimal(p, &stop);
    p = skip_spaces(token_end(is_c_space(*p) ? p : stop, end), end);
    return value;
}

// Appends half-moves to the table: the reading of a stream, or of a
// file in one piece.
struct Appender {
    MoveTable& table;

    // Never refuses: without memory it throws std::bad_alloc.
    bool add(const HalfMove& half_move, std::string_view text) {
        table.half_moves.push_back(half_move);
        if (half_move.flags & INVALID_BIT)
            add_invalid_text(table.invalid_texts, table.end() - 1, text);
        return true;
    }
};

// Fills a stretch of slots made ready in the table, so that two threads
// can each fill their own. The move texts of invalid half-moves go to a
// map of the filler's own.
struct SlotFiller {
    HalfMove* begin;
    HalfMove* end;
    std::int64_t first_index; // the table index of *begin
    std::vector<InvalidText>& invalid_texts;
    HalfMove* next = begin;

    // False when the stretch is full. Throws std::bad_alloc.
    bool add(const HalfMove& half_move, std::string_view text) {
        if (next == end)
            return false;
        *next = half_move;
        if (half_move.flags & INVALID_BIT)
            add_invalid_text(invalid_texts, first_index + (next - begin), text);
        ++next;
        return true;
    }
    [[nodiscard]] std::size_t filled() const { return static_cast<std::size_t>(next - begin); }
};

// Reads one half-move (move text and four numbers) at p into the sink;
// leaves p on the token after it or at the end. False when the sink
// refused it.
template <class Sink>
bool read_half_move(const char*& p, const char* end, Colour colour, Sink& sink) {
    const char* const text_end = token_end(p, end);
    const std::string_view token(p, static_cast<std::size_t>(text_end - p));
    const DecodedMove decoded = decode_move_text(token, colour);
    p = skip_spaces(text_end, end);

    HalfMove half_move;
    half_move.move = decoded.move;
    half_move.flags = decoded.flags;
    // Lines come NUL-terminated, so no conversion runs past the end.
    half_move.score = take_number(p, end);
    half_move.number2 = take_number(p, end);
    half_move.number3 = take_number(p, end);
    half_move.time = take_number(p, end);
    return sink.add(half_move, token);
}

const HalfMove MISSING_HALF_MOVE{0, INVALID_BIT};

// The newlines among the bytes, counted sixteen bytes at a time in the
// compiler's vectors (SSE2 on x86-64): this pass over a long record runs
// alone before the reading is shared out.
std::size_t count_newlines(const char* bytes, std::size_t size) {
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    std::size_t count = 0;
    std::size_t k = 0;
    while (k + sizeof(Bytes) <= size) {
        // Per byte, the newlines seen there; at most 255 blocks before the
        // bytes are summed, so that none of them wraps. A byte compared
        // equal is all ones, -1, so subtracting counts it.
        Bytes per_byte = {};
        for (int blocks = 0; blocks < 255 && k + sizeof(Bytes) <= size; ++blocks, k += sizeof(Bytes)) {
            Bytes block;
            std::memcpy(&block, bytes + k, sizeof block);
            per_byte -= block == '\n';
        }
        for (std::size_t lane = 0; lane < sizeof(Bytes); ++lane)
            count += per_byte[lane];
    }
    for (; k < size; ++k)
        count += bytes[k] == '\n' ? 1 : 0;
    return count;
}

// Blocks of 64 KiB: each 4 KiB page of fresh memory costs a fault (about
// 10 us on a virtual machine), and larger blocks read no faster.
constexpr std::size_t BLOCK = std::size_t{64} * 1024;

// A record left of at least this size is read in parts on two threads:
// below it the thread's start costs more than it saves.
constexpr off_t READ_IN_PARTS_FROM = off_t{1} << 20;

// Parts of about 512 KiB, small enough that the thread on the faster CPU
// takes more of them: the two CPUs of a virtual machine need not run
// alike, and with equal halves the faster thread would wait for the
// slower.
constexpr off_t PART_SIZE = off_t{512} << 10;

// Where a part of the record begins: a line start, and the lines before
// it, whose slots in the table come before the part's.
struct PartStart {
    off_t offset = 0;
    std::size_t lines_before = 0;
};

// What one pass over a regular file found, for the table's reservation
// and for reading it in parts.
struct Survey {
    std::size_t lines = 1;
    std::size_t bytes = 0;
    std::vector<PartStart> part_starts; // of the second part on, none for one part
};

// Reading in parts sizes the whole table before reading, writing two
// slots of 40 bytes for every line, where one reading fills only what
// the record holds. Lines this long on average keep that within five
// times the file; a file of mostly blank or very short lines is read in
// one piece.
constexpr std::size_t SHORTEST_AVERAGE_LINE = 16;

// Counts the lines from start on, and when the file is long enough to
// read in parts, finds where each part after the first begins: at the
// first line start PART_SIZE or more past the previous. A failed read
// ends the survey early; the reading proper will meet the same trouble
// and report it.
Survey survey_file(int fd, off_t start, off_t size) {
    Survey survey;
    off_t target = size - start >= READ_IN_PARTS_FROM ? start + PART_SIZE : -1;
    std::unique_ptr<char[]> chunk;
    try {
        chunk = std::make_unique_for_overwrite<char[]>(BLOCK);
        off_t offset = start;
        ssize_t got = 0;
        while ((got = ::pread(fd, chunk.get(), BLOCK, offset)) > 0) {
            const auto size_got = static_cast<std::size_t>(got);
            while (target >= 0 && offset + got > target) {
                const auto from = static_cast<std::size_t>(std::max(target - offset, off_t{0}));
                const void* newline = std::memchr(chunk.get() + from, '\n', size_got - from);
                if (newline == nullptr)
                    break; // the line goes on in the next chunk
                const auto after = static_cast<std::size_t>(static_cast<const char*>(newline) - chunk.get()) + 1;
                const PartStart part{offset + static_cast<off_t>(after),
                                     survey.lines - 1 + count_newlines(chunk.get(), after)};
                // The first part holds both header lines.
                if (part.lines_before >= 2)
                    survey.part_starts.push_back(part);
                target = part.offset + PART_SIZE;
            }
            survey.lines += count_newlines(chunk.get(), size_got);
            survey.bytes += size_got;
            offset += got;
        }
        // No part starts at the end of the file.
        if (!survey.part_starts.empty() && survey.part_starts.back().offset >= offset)
            survey.part_starts.pop_back();
    } catch (const std::bad_alloc&) {
        survey.part_starts.clear();
    }
    return survey;
}

// Reserves room for the half-moves of the given number of lines, the most
// they can hold: growing the table by doubling would copy it and, for a
// moment, hold it twice. Lines are an upper bound, far above the truth for
// a file of blank lines; without the memory for it the table grows as
// read instead.
void reserve_for_lines(std::size_t lines, MoveTable& table) {
    try {
        table.half_moves.reserve(2 * lines);
    } catch (const std::bad_alloc&) {
    }
}

// The lines of a stretch of a regular file, from begin up to limit, read
// by offset in blocks and handed out in place, as LineReader hands them
// out. getline's copying of every line was a fifth of the reading of a
// long record. Only for regular files: a block read from a terminal or a
// pipe would wait for more than a line, and reading stops at a blank line
// that may come long before the end.
class FileLines {
public:
    FileLines(int fd, off_t begin, off_t limit) : fd_(fd), offset_(begin), limit_(limit) {}
    bool next(std::string_view& line);
    [[nodiscard]] int error() const { return error_; }

private:
    bool read_more();

    int fd_;
    off_t offset_; // where the next read starts
    off_t limit_;
    std::unique_ptr<char[]> block_;
    std::size_t capacity_ = 0; // one byte is always kept for a final NUL
    std::size_t begin_ = 0;    // the next line starts here
    std::size_t end_ = 0;      // the bytes read end here
    bool at_end_ = false;
    int error_ = 0;
};

constexpr off_t NO_LIMIT = std::numeric_limits<off_t>::max();

bool FileLines::next(std::string_view& line) {
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
        if (at_end_ || !read_more())
            return false;
    }
}

// Moves the unfinished line to the front, grows the block if the line
// fills it, and reads what fits after it.
bool FileLines::read_more() {
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
    const auto room = static_cast<off_t>(capacity_ - 1 - end_);
    const auto wanted = static_cast<std::size_t>(std::min(room, limit_ - offset_));
    ssize_t got = 0;
    do
        got = wanted > 0 ? ::pread(fd_, block_.get() + end_, wanted, offset_) : 0;
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        error_ = errno;
        return false;
    }
    if (got == 0)
        at_end_ = true;
    end_ += static_cast<std::size_t>(got);
    offset_ += got;
    return true;
}

// A stream's lines through LineReader, with FileLines' interface.
class StreamLines {
public:
    explicit StreamLines(std::FILE* file) : file_(file) {}
    bool next(std::string_view& line) { return reader_.next(file_, line); }
    [[nodiscard]] int error() const { return reader_.error(); }

private:
    std::FILE* file_;
    LineReader reader_;
};

// How a stretch of move lines ended.
struct MoveLinesEnd {
    bool black_missing = false; // its last line held white's half-move only
    bool blank_line = false;    // a blank line ended the record
    bool sink_full = false;     // the sink refused a half-move
};

// Reads move lines up to a blank line or the end into the sink.
// Throws std::bad_alloc.
template <class Lines, class Sink>
MoveLinesEnd read_move_lines(Lines& lines, Sink& sink) {
    // White's move was the last text on the previous line; black's slot is
    // only filled if another move line follows.
    MoveLinesEnd ended;
    std::string_view line;
    while (lines.next(line)) {
        if (is_blank_line(line)) {
            ended.blank_line = true;
            break;
        }
        const char* const end = line.data() + line.size();
        const char* p = skip_spaces(line.data(), end);
        if ((ended.black_missing && !sink.add(MISSING_HALF_MOVE, {})) || !read_half_move(p, end, WHITE, sink)) {
            ended.sink_full = true;
            break;
        }
        ended.black_missing = p == end;
        if (!ended.black_missing && !read_half_move(p, end, BLACK, sink)) {
            ended.sink_full = true;
            break;
        }
    }
    return ended;
}

// False when the lines end before both header lines; throws std::bad_alloc.
template <class Lines>
bool read_headers(Lines& lines, MoveTable& table) {
    std::string_view line;
    for (int header = 0; header < 2; ++header) {
        if (!lines.next(line))
            return false;
        table.headers.emplace_back(line);
    }
    return true;
}

template <class Lines>
int read_record_lines(Lines& lines, MoveTable& table) {
    try {
        Appender appender{table};
        if (read_headers(lines, table))
            read_move_lines(lines, appender);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    return lines.error();
}

// One part of the record: its bytes, its slots in the table, and how its
// reading ended.
struct Part {
    off_t begin = 0;
    off_t end = 0;
    std::size_t first_slot = 0;
    std::size_t slots = 0;
    bool headers_read = true; // the first part's, false when missing
    MoveLinesEnd ended;
    std::size_t filled = 0;
    int error = 0;
};

// Reads part k into its slots; the first part also reads the headers.
void read_part(int fd, std::vector<Part>& parts, std::size_t k, MoveTable& table,
               std::vector<InvalidText>& invalid_texts) {
    Part& part = parts[k];
    HalfMove* const slots = table.half_moves.data() + part.first_slot;
    SlotFiller filler{slots, slots + part.slots, table.first + static_cast<std::int64_t>(part.first_slot),
                      invalid_texts};
    FileLines lines(fd, part.begin, part.end);
    try {
        part.headers_read = k > 0 || read_headers(lines, table);
        if (part.headers_read)
            part.ended = read_move_lines(lines, filler);
        part.error = lines.error();
    } catch (const std::bad_alloc&) {
        part.error = ENOMEM;
    }
    part.filled = filler.filled();
}

// Joins the parts as one reading from start to end would have: up to a
// blank line or an error, a part that ended with white's move getting
// black's missing half-move only because a line follows. Returns the
// half-moves read, or nothing when a part did not hold what the survey
// counted.
std::optional<std::size_t> join_parts(const std::vector<Part>& parts, MoveTable& table, int& error) {
    std::size_t size = 0;
    bool black_missing = false;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const Part& part = parts[k];
        if (!part.headers_read)
            return std::nullopt;
        if (part.error != 0) {
            error = part.error;
            return size;
        }
        if (part.filled > 0) {
            if (black_missing) {
                // The previous part's last slot, filled as its reading
                // would have filled it had the line come in time.
                HalfMove* const slot = table.half_moves.data() + part.first_slot - 1;
                SlotFiller{slot, slot + 1, table.first + static_cast<std::int64_t>(part.first_slot) - 1,
                           table.invalid_texts}
                    .add(MISSING_HALF_MOVE, {});
            }
            size = part.first_slot + part.filled;
        }
        if (part.ended.blank_line)
            break;
        const bool last = k + 1 == parts.size();
        if (part.ended.sink_full ||
            (!last && part.filled != part.slots - (part.ended.black_missing ? 1 : 0)))
            return std::nullopt;
        black_missing = part.ended.black_missing;
    }
    return size;
}

// Reads the record in parts, on this thread and a second one at once,
// each taking the next part left. The table, which must be empty, is
// sized for every line the survey counted: each line before a part's
// start fills two slots, so every part knows where its own begin. False
// when the file did not hold what the survey counted (it changed
// meanwhile), and the table must be read again in one piece.
bool read_in_parts(int fd, off_t start, const Survey& survey, MoveTable& table, int& error) {
    std::vector<Part> parts;
    try {
        table.half_moves.resize(2 * survey.lines);
        parts.resize(survey.part_starts.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t k = 0; k < parts.size(); ++k) {
        Part& part = parts[k];
        part.begin = k == 0 ? start : survey.part_starts[k - 1].offset;
        part.first_slot = k == 0 ? 0 : 2 * (survey.part_starts[k - 1].lines_before - 2);
        const bool last = k + 1 == parts.size();
        // The last part reads on to the end, wherever that now is.
        part.end = last ? NO_LIMIT : survey.part_starts[k].offset;
        part.slots = (last ? table.half_moves.size() : 2 * (survey.part_starts[k].lines_before - 2)) -
                     part.first_slot;
    }

    std::atomic<std::size_t> next_part{0};
    // Each thread keeps the invalid move texts it reads apart.
    std::array<std::vector<InvalidText>, 2> invalid_texts;
    const auto read_parts = [&](std::vector<InvalidText>& texts) {
        for (std::size_t k = 0; (k = next_part.fetch_add(1)) < parts.size();)
            read_part(fd, parts, k, table, texts);
    };
    {
        std::jthread helper;
        try {
            helper = std::jthread([&read_parts, &invalid_texts, cpus = other_cpus()] {
                keep_to(cpus);
                read_parts(invalid_texts[1]);
            });
        } catch (const std::exception&) {
            // Without a second thread this one reads every part.
        }
        read_parts(invalid_texts[0]);
    }

    // Each thread took its parts in order, so each list is in order.
    try {
        table.invalid_texts.reserve(invalid_texts[0].size() + invalid_texts[1].size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::merge(std::make_move_iterator(invalid_texts[0].begin()), std::make_move_iterator(invalid_texts[0].end()),
               std::make_move_iterator(invalid_texts[1].begin()), std::make_move_iterator(invalid_texts[1].end()),
               std::back_inserter(table.invalid_texts),
               [](const InvalidText& a, const InvalidText& b) { return a.index < b.index; });
    std::optional<std::size_t> size;
    try {
        size = join_parts(parts, table, error);
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
        size = 0;
    }
    if (!size)
        return false;
    table.half_moves.resize(*size);
    // Texts read past the end of the record, after a blank line.
    const auto past = std::find_if(table.invalid_texts.begin(), table.invalid_texts.end(),
                                   [end = table.end()](const InvalidText& kept) { return kept.index >= end; });
    table.invalid_texts.erase(past, table.invalid_texts.end());
    return true;
}

// A regular file's record: read in parts at once when it is long enough
// and two CPUs are there to read it, so that the table is the one a
// single reading would give.
int read_regular_file(int fd, off_t start, off_t size, MoveTable& table, ReadReport& report) {
    const Survey survey = survey_file(fd, start, size);
    if (!survey.part_starts.empty() && survey.lines <= survey.bytes / SHORTEST_AVERAGE_LINE &&
        table.count() == 0 && table.headers.empty() && table.invalid_texts.empty() &&
        usable_cpus() >= 2) {
        int error = 0;
        if (read_in_parts(fd, start, survey, table, error)) {
            report.parts = survey.part_starts.size() + 1;
            return error;
        }
        table.half_moves.clear();
        table.headers.clear();
        table.invalid_texts.clear();
    }
    reserve_for_lines(survey.lines, table);
    FileLines lines(fd, start, NO_LIMIT);
    return read_record_lines(lines, table);
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

constexpr std::size_t LINE_BUFFER_START = 4096;

LineReader::~LineReader() { std::free(buffer_); }

bool LineReader::next(std::FILE* file, std::string_view& line) {
    // getline would start at 120 bytes and grow a long line by doubling,
    // a copy each time; this holds most lines at once. Without the memory
    // getline tries for itself.
    if (buffer_ == nullptr) {
        buffer_ = static_cast<char*>(std::malloc(LINE_BUFFER_START));
        capacity_ = buffer_ != nullptr ? LINE_BUFFER_START : 0;
    }
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
    while (is_c_space(*text))
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

int read_record_file(std::FILE* file, MoveTable& table, ReadReport* report) {
    ReadReport ignored;
    ReadReport& told = report != nullptr ? *report : ignored;
    told = ReadReport{};
    struct stat status {};
    const int fd = ::fileno(file);
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        // Read by offset, from where the stream stands, past its buffer.
        if (const off_t start = ::ftello(file); start >= 0)
            return read_regular_file(fd, start, status.st_size, table, told);
    }
    StreamLines lines(file);
    return read_record_lines(lines, table);
}

} // namespace tavrik
