// The entry and the print run.
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

#include "position/position.h"
#include "record/record.h"
#include "run/run.h"
#include "sheet/sheet.h"

namespace tavrik {

namespace {

constexpr const char* USAGE = "Usage: tavrik file [start [end] ] \n";

// A failed write must not pass as success.
int report_write_error(std::FILE* err, int error) {
    std::fprintf(err, "tavrik: write error: %s\n",
                 error != 0 ? std::strerror(error) : "output failed");
    return 1;
}

int write_message(std::string_view text, std::FILE* out, std::FILE* err, int status) {
    Output output(out);
    put_text(output, text);
    return flush_output(output) ? status : report_write_error(err, output.error);
}

} // namespace

std::int64_t index_of_move(std::int64_t move_number) {
    if (move_number <= 0)
        return 0;
    if (move_number > std::numeric_limits<std::int64_t>::max() / 2)
        return std::numeric_limits<std::int64_t>::max();
    return 2 * move_number - 1;
}

HalfMoveRange half_move_range(const RangeArgs& args, std::int64_t count) {
    HalfMoveRange range;
    range.start = args.start_move ? index_of_move(*args.start_move) : 0;
    if (range.start <= 0 || range.start > count)
        range.start = 1;
    // An explicit end inside the record is exclusive; otherwise the walk
    // covers every half-move read.
    range.end = args.end_move ? index_of_move(*args.end_move) : 0;
    if (range.end <= 0 || range.end > count)
        range.end = count + 1;
    return range;
}

void print_half_move(const MoveTable& table, const HalfMoveRange& range, std::int64_t i,
                     Board& board, PageState& page, Output& out) {
    if (const ReplayFindings findings = replay_half_move(board, table, i); findings != 0)
        write_findings(findings, table, i, out);
    if (i >= range.start)
        write_diagram(page, board, table, i, out);
}

int print_run(std::FILE* record, const char* record_name, const RangeArgs& args,
              std::FILE* out, std::FILE* err) {
    MoveTable table;
    // Read before writing anything, so that an unreadable record leaves
    // standard output empty.
    if (const int error = read_record_file(record, table); error != 0) {
        std::fprintf(err, "tavrik: %s: %s\n", record_name, std::strerror(error));
        return 1;
    }

    Board board;
    setup_board(board);
    PageState page;
    Output output(out);
    begin_sheet(output);
    const HalfMoveRange range = half_move_range(args, table.count());
    for (std::int64_t i = 1; i < range.end; ++i)
        print_half_move(table, range, i, board, page, output);
    end_sheet(page, output);
    return flush_output(output) ? 0 : report_write_error(err, output.error);
}

int tavrik_main(int argc, const char* const argv[], std::FILE* in, std::FILE* out,
                std::FILE* err) {
    const int given = argc - 1;
    if (given == 1 && std::string_view(argv[1]) == "--help") {
        return write_message(USAGE, out, err, 0);
    }
    if (given == 1 && std::string_view(argv[1]) == "--version") {
        return write_message("tavrik " TAVRIK_VERSION "\n", out, err, 0);
    }
    if (given < 1 || given > 3) {
        return write_message(USAGE, out, err, 1);
    }

    RangeArgs args;
    if (given >= 2)
        args.start_move = parse_decimal(argv[2]);
    if (given == 3)
        args.end_move = parse_decimal(argv[3]);

    const std::string_view name = argv[1];
    if (name == "-")
        return print_run(in, "standard input", args, out, err);

    std::FILE* record = std::fopen(argv[1], "r");
    if (record == nullptr) {
        std::fprintf(err, "tavrik: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const int status = print_run(record, argv[1], args, out, err);
    std::fclose(record);
    return status;
}

} // namespace tavrik
