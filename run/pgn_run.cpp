// Runs over PGN files: a booklet of every game, or one game as a record.
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"
#include "run/run.h"
#include "sheet/sheet.h"

namespace tavrik {

namespace {

std::string games_held(std::int64_t count) {
    return "the file holds " + std::to_string(count) + (count == 1 ? " game" : " games");
}

std::string_view result_of(const PgnGame& game) {
    return game.result.empty() ? tag_value(game, "Result") : std::string_view(game.result);
}

std::string event_and_date(const PgnGame& game) {
    std::string text(tag_value(game, "Event"));
    text += ", ";
    text += tag_value(game, "Date");
    return text;
}

GameTitle title_of(const PgnGame& game) {
    std::string details = event_and_date(game);
    details += ", ";
    details += result_of(game);
    return {std::string(tag_value(game, "White")), std::string(tag_value(game, "Black")),
            std::move(details), game.comment};
}

// Reads games up to the chosen one (or the first), keeping only its moves.
// Afterwards `read` is the number of games read; false if none matched.
bool read_chosen_game(PgnReader& reader, std::optional<std::int64_t> chosen, PgnGame& game,
                      std::int64_t& read) {
    const std::int64_t wanted = chosen.value_or(1);
    while (reader.next_game(game, read + 1 == wanted)) {
        read = game.number;
        if (read == wanted)
            return true;
    }
    return false;
}

// The games left in the reader, counted without keeping their moves.
std::int64_t count_rest(PgnReader& reader) {
    PgnGame game;
    std::int64_t count = 0;
    while (reader.next_game(game, false))
        ++count;
    return count;
}

int read_failure(std::FILE* err, const char* name, const PgnReader& reader,
                 const char* program = "tavrik") {
    std::fprintf(err, "%s: %s: %s\n", program, name, std::strerror(reader.error()));
    return 1;
}

// Numbers as a record writes them: the move text, then score, number2,
// number3 and time.
void put_record_half_move(Output& out, const HalfMove& half_move) {
    put_text(out, coordinate_text(half_move.move, half_move.flags));
    for (const std::int64_t n : {half_move.score, half_move.number2, half_move.number3, half_move.time}) {
        put_text(out, " ");
        put_number(out, n);
    }
}

// One header line may hold no line break.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

} // namespace

std::string why_no_record(const Board& start, const MoveTable& table) {
    if (start.chess960)
        return "is a Chess960 game";
    Board standard;
    setup_board(standard);
    if (fen_of(start) != fen_of(standard))
        return "starts from a set-up position";
    for (std::int64_t i = table.first; i < table.end(); ++i)
        if (table.at(i).flags & NULL_MOVE_BIT)
            return "has a null move, " + move_label(table, i);
    return {};
}

void write_record(const PgnGame& game, const MoveTable& table, Output& out) {
    const GameTitle title = title_of(game);
    put_text(out, one_line(title.white + " - " + title.black + ", " + event_and_date(game)));
    put_text(out, "\n");
    put_text(out, one_line(std::string(result_of(game))));
    put_text(out, "\n");
    write_record_moves(table, out);
}

void write_record_moves(const MoveTable& table, Output& out) {
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        put_record_half_move(out, table.at(i));
        put_text(out, i % 2 == 1 && i + 1 < table.end() ? " " : "\n");
    }
}

int print_pgn_run(std::FILE* pgn, const char* pgn_name, const PgnArgs& args, std::FILE* out,
                  std::FILE* err, const GameWatcher& watch) {
    PgnReader reader(pgn);
    Output output(out);
    PageState page;
    page.layout = args.view.layout;
    PgnGame game;
    MoveTable table;
    Board start;
    std::string fault;
    int status = 0;
    std::int64_t read = 0;
    bool begun = false;

    const auto print_one = [&]() {
        const bool whole = play_pgn_game(game, start, table, fault);
        if (watch)
            watch(PlayedGame{game, start, table, fault});
        if (!whole) {
            report_pgn_game(err, pgn_name, game, fault);
            status = 1;
        }
        // A game refused before its first move has nothing to show.
        if (!whole && table.count() == 0)
            return;
        if (!begun) {
            begin_sheet(output, args.view.layout);
            if (args.view.flip && !args.view.player)
                write_view(true, output);
        }
        begun = true;
        begin_game(page, title_of(game), output);
        if (args.view.player)
            write_view(seen_from_black(tag_value(game, "White"), tag_value(game, "Black"), args.view), output);
        print_game(table, start, args.range, page, output);
        const HalfMoveRange drawn = half_move_range(args.range, table.count(), table.first);
        write_notes(page, table, drawn.start, drawn.end, output);
    };

    if (args.game) {
        if (read_chosen_game(reader, args.game, game, read))
            print_one();
        else if (reader.error() == 0)
            std::fprintf(err, "tavrik: %s: no game %lld: %s\n", pgn_name,
                         static_cast<long long>(*args.game), games_held(read).c_str());
    } else {
        while (reader.next_game(game)) {
            read = game.number;
            print_one();
        }
        if (read == 0 && reader.error() == 0)
            std::fprintf(err, "tavrik: %s: %s\n", pgn_name, games_held(0).c_str());
    }
    if (reader.error() != 0)
        status = read_failure(err, pgn_name, reader);
    if (read == 0 || (args.game && read < *args.game))
        status = 1;
    if (begun)
        end_sheet(page, output);
    const int written = finish_output(output, err);
    return written != 0 ? written : status;
}

int print_worksheet_run(std::FILE* pgn, const char* pgn_name, const WorksheetArgs& args, std::FILE* out,
                        std::FILE* err) {
    PgnReader reader(pgn);
    PgnGame game;
    MoveTable table;
    Board start;
    std::string fault;
    std::vector<WorksheetTask> tasks;
    std::vector<std::string> counts;
    int status = 0;
    std::int64_t read = 0;
    while (reader.next_game(game, !args.game || read + 1 == *args.game)) {
        read = game.number;
        if (args.game && read != *args.game)
            continue;
        if (!play_pgn_game(game, start, table, fault)) {
            report_pgn_game(err, pgn_name, game, fault);
            status = 1;
        }
        SideCounts sides[2];
        add_worksheet_tasks(game, start, table, args.level, args.player, tasks, sides);
        for (const Colour side : {WHITE, BLACK}) {
            const std::string name(tag_value(game, side == WHITE ? "White" : "Black"));
            if (!args.player || holds_name(name, *args.player))
                counts.push_back("Game " + std::to_string(game.number) + ", " + name +
                                 (side == WHITE ? " (White): " : " (Black): ") + counts_text(sides[side]));
        }
        if (args.game)
            break;
    }
    if (reader.error() != 0)
        status = read_failure(err, pgn_name, reader);
    else if (read == 0 || (args.game && read < *args.game)) {
        std::fprintf(err, "tavrik: %s: %s%s\n", pgn_name,
                     args.game ? ("no game " + std::to_string(*args.game) + ": ").c_str() : "",
                     games_held(read).c_str());
        status = 1;
    }

    Output output(out);
    PageState page;
    page.layout = Layout::GRID_2X3;
    if (read > 0 && tasks.empty()) {
        begin_worksheet("Worksheet", page.layout, output);
        write_text_pages(page, "Nothing to solve", {"No move of these games is marked as wrong at this level."},
                         output);
    } else if (!tasks.empty()) {
        begin_worksheet("Worksheet: " + std::to_string(tasks.size()) + (tasks.size() == 1 ? " position" : " positions"),
                        page.layout, output);
        std::vector<std::string> answers;
        for (std::size_t k = 0; k < tasks.size(); ++k) {
            const WorksheetTask& task = tasks[k];
            write_task_diagram(page, task.before,
                               std::to_string(k + 1) + (task.before.side == WHITE ? ". White to play" : ". Black to play"),
                               "Game " + std::to_string(task.game) + ", move " + std::to_string((task.index + 1) / 2) +
                                   ", " + task.players,
                               output);
            answers.push_back(answer_text(task, k + 1));
        }
        answers.insert(answers.end(), counts.begin(), counts.end());
        write_text_pages(page, "Answers", answers, output);
    }
    if (read > 0)
        end_sheet(page, output);
    const int written = finish_output(output, err);
    return written != 0 ? written : status;
}

bool read_one_pgn_game(std::FILE* pgn, const char* pgn_name, std::optional<std::int64_t> chosen,
                       PgnGame& game, std::FILE* err, const char* program, bool raw_comments) {
    PgnReader reader(pgn);
    reader.keep_raw_comments(raw_comments);
    std::int64_t read = 0;
    const bool found = read_chosen_game(reader, chosen, game, read);
    if (reader.error() != 0)
        return read_failure(err, pgn_name, reader, program) == 0;
    if (!found) {
        if (chosen)
            std::fprintf(err, "%s: %s: no game %lld: %s\n", program, pgn_name,
                         static_cast<long long>(*chosen), games_held(read).c_str());
        else
            std::fprintf(err, "%s: %s: %s\n", program, pgn_name, games_held(0).c_str());
        return false;
    }
    if (!chosen) {
        const std::int64_t more = count_rest(reader);
        if (reader.error() != 0)
            return read_failure(err, pgn_name, reader, program) == 0;
        if (more > 0) {
            std::fprintf(err, "%s: %s: %s; choose one with --game N\n", program, pgn_name,
                         games_held(1 + more).c_str());
            return false;
        }
    }
    return true;
}

void report_pgn_game(std::FILE* err, const char* pgn_name, const PgnGame& game, const std::string& why,
                     const char* program) {
    std::fprintf(err, "%s: %s: game %lld (%s): %s\n", program, pgn_name, static_cast<long long>(game.number),
                 printable_text(players_of(game)).c_str(), why.c_str());
}

int write_record_run(std::FILE* pgn, const char* pgn_name, std::optional<std::int64_t> chosen,
                     std::FILE* out, std::FILE* err) {
    PgnGame game;
    if (!read_one_pgn_game(pgn, pgn_name, chosen, game, err, "tavrik"))
        return 1;

    MoveTable table;
    Board start;
    if (std::string fault; !play_pgn_game(game, start, table, fault)) {
        report_pgn_game(err, pgn_name, game, fault);
        return 1;
    }
    if (const std::string why = why_no_record(start, table); !why.empty()) {
        report_pgn_game(err, pgn_name, game, why + ", which a record cannot hold; print it as PGN");
        return 1;
    }

    Output output(out);
    write_record(game, table, output);
    return finish_output(output, err);
}

} // namespace tavrik
