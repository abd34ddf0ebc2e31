// The analysis of a game by UCI engines: its tasks, the engines'
// schedule, and the game written again with what they found.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analyse/analyse.h"
#include "sheet/sheet.h"

namespace tavrik {

namespace {

constexpr auto STOP_GRACE = std::chrono::milliseconds(500);

// Whether the position after task k's move is the next task's: the
// first searches come in the order of the moves.
bool next_position_searched(const std::vector<Task>& tasks, std::size_t k, std::size_t positions) {
    return k + 1 < positions && tasks[k].best && tasks[k + 1].best && tasks[k + 1].index == tasks[k].index + 1;
}

bool is_legal(const Board& board, Move move) {
    const MoveList legal = legal_moves(board);
    return std::find(legal.begin(), legal.end(), move) != legal.end();
}

} // namespace

// The tasks of a game, and a line on err for every move not searched.
// A record's moves are replayed as recorded; beside that board runs the
// position as the rules see it, with castling rights and the en passant
// square, which a move that breaks the rules leaves to what the pieces
// still allow.
std::vector<Task> tasks_of(const MoveTable& table, const Board& start, bool recorded, const char* name,
                           std::FILE* err) {
    std::vector<Task> tasks;
    Board board = start;
    Board rules = start;
    for (std::int64_t i = table.first; i < table.end(); ++i) {
        const Move move = move_of(table.at(i).move, table.at(i).flags);
        if (is_null(move)) {
            std::fprintf(err, "tavrik-analyse: %s: move %s not analysed: a null move is no move to search\n",
                         name, move_label(table, i).c_str());
            play_move(board, move);
            play_move(rules, move);
            continue;
        }
        // Read back from its FEN, the position is checked and its rights
        // pruned as the engine will take them.
        std::string why;
        Board position;
        const bool playable = board_from_fen(fen_of(rules), position, why, rules.chess960);
        const bool legal = playable && (table.at(i).flags & INVALID_BIT) == 0 && is_legal(position, move);
        if (legal)
            tasks.push_back({i, fen_of(position), coordinate_text(code_of(move), flags_of(position, move)),
                             move_label(table, i)});
        const ReplayFindings findings = recorded ? replay_half_move(board, table, i) : 0;
        if (!recorded)
            play_move(board, move);
        if (legal) {
            rules = position;
            play_move(rules, move);
        } else {
            const std::string reason = !playable                       ? why
                                       : (findings & NO_MOVE_NAMED) != 0 ? "the text names no move"
                                       : findings != 0                  ? "the move does not fit the position"
                                                                        : "the move is not legal here";
            std::fprintf(err, "tavrik-analyse: %s: move %s not analysed: %s\n", name,
                         move_label(table, i).c_str(), reason.c_str());
            const unsigned castling = playable ? position.castling : rules.castling;
            const std::int64_t fullmove = rules.fullmove + (rules.side == BLACK ? 1 : 0);
            rules = board;
            rules.castling = castling;
            rules.en_passant = NO_SQUARE;
            rules.fullmove = fullmove;
        }
    }
    return tasks;
}

namespace {

// An engine at work: what it searches, and till when it may.
struct Worker {
    Engine engine;
    std::optional<std::size_t> task;
    bool ready_asked = false;
    Clock::time_point deadline{};
    SearchReport report;
};

} // namespace

int interruption(int interrupt_fd) {
    unsigned char signal = 0;
    if (interrupt_fd < 0 || ::read(interrupt_fd, &signal, 1) != 1)
        return 0;
    return signal;
}


std::optional<Failure> run_tasks(const EngineSchedule& schedule, const std::string& program,
                                 std::vector<Task>& tasks, std::vector<SearchReport>& reports, int interrupt_fd,
                                 const std::function<void(std::size_t, std::size_t)>& progress) {
    const auto wait = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(schedule.timeout_s));
    const Clock::duration search_wait =
        schedule.limits.movetime_ms ? std::chrono::milliseconds(*schedule.limits.movetime_ms) + wait : 60 * wait;
    const std::size_t jobs = std::min<std::size_t>(static_cast<std::size_t>(schedule.jobs), tasks.size());

    std::vector<std::unique_ptr<Worker>> workers;
    const auto fail = [&](const std::string& text) {
        const bool interrupted = std::any_of(workers.begin(), workers.end(),
                                             [](const auto& worker) { return worker->engine.interrupted(); });
        for (const auto& worker : workers)
            worker->engine.stop(interrupted ? std::chrono::milliseconds(100) : STOP_GRACE);
        if (interrupted)
            return Failure{"interrupted", interruption(interrupt_fd)};
        return Failure{"engine " + program + ": " + text, 0};
    };
    auto settings = schedule.uci_options;
    const bool threads_given = std::any_of(settings.begin(), settings.end(),
                                           [](const auto& setting) { return setting.first == "Threads"; });
    if (!threads_given)
        settings.insert(settings.begin(), {"Threads", "1"});
    // All start together: an engine takes a while to load.
    for (std::size_t k = 0; k < jobs; ++k) {
        auto worker = std::make_unique<Worker>();
        worker->engine.watch(interrupt_fd);
        std::string why;
        if (!worker->engine.start(program, why))
            return fail(why);
        workers.push_back(std::move(worker));
        if (!workers.back()->engine.begin_handshake(why))
            return fail(why);
    }
    for (const auto& worker : workers) {
        std::string why;
        if (!worker->engine.finish_handshake(settings, wait, why))
            return fail(why);
    }

    std::size_t next = 0;
    std::size_t done = 0;
    std::vector<Engine*> engines;
    engines.reserve(workers.size());
    for (const auto& worker : workers)
        engines.push_back(&worker->engine);
    // Searches of the moves played join the list as they turn out to be
    // needed; the engine that searched the position takes them at once.
    const std::size_t queued = tasks.size();
    reports.assign(tasks.size(), {});
    progress(0, tasks.size());
    const auto assign = [&](Worker& worker, std::string& why) {
        worker.task = next++;
        worker.report = {};
        worker.ready_asked = true;
        worker.deadline = Clock::now() + wait;
        // A fresh start for every search: the answer then depends on the
        // position alone, not on which engine searched what before.
        return worker.engine.send("ucinewgame", why) && worker.engine.send("isready", why);
    };
    for (const auto& worker : workers) {
        std::string why;
        if (next < queued && !assign(*worker, why))
            return fail(why + " (move " + tasks[next - 1].label + ")");
    }

    while (done < tasks.size()) {
        Clock::time_point deadline = Clock::time_point::max();
        for (const auto& worker : workers)
            if (worker->task)
                deadline = std::min(deadline, worker->deadline);
        bool interrupted = false;
        wait_for_output(engines, deadline, interrupt_fd, interrupted);
        if (interrupted) {
            for (const auto& worker : workers)
                worker->engine.stop(std::chrono::milliseconds(100));
            return Failure{"interrupted", interruption(interrupt_fd)};
        }
        for (const auto& worker : workers) {
            if (!worker->task)
                continue;
            // A copy: a search of every move may add a task to the list.
            const Task task = tasks[*worker->task];
            std::string line;
            std::string why;
            while (worker->task && worker->engine.next_line(line)) {
                const std::string_view text = line;
                if (worker->ready_asked) {
                    if (text == "readyok" || text.starts_with("readyok ")) {
                        worker->ready_asked = false;
                        worker->deadline = Clock::now() + search_wait;
                        if (!worker->engine.send("position fen " + task.fen, why) ||
                            !worker->engine.send(go_line(schedule.limits, task.best ? "" : task.move), why))
                            return fail(why + " (move " + task.label + ")");
                    }
                    continue;
                }
                if (text.starts_with("info ")) {
                    read_info_line(text, worker->report);
                } else if (text == "bestmove" || text.starts_with("bestmove ")) {
                    if (!worker->report.scored)
                        return fail("answered 'bestmove' without a score (move " + task.label + ")");
                    worker->report.bestmove = bestmove_of(text);
                    const std::size_t finished = *worker->task;
                    reports[finished] = worker->report;
                    worker->task.reset();
                    // The move played needs a search of its own unless it
                    // was the best or the position it leads to is searched
                    // anyway: on the same engine, right away, which spares
                    // a fresh start's round trip. What the first search
                    // left in the engine's tables depends on the position
                    // alone, as every position's first search starts
                    // afresh, so the numbers do too.
                    if (task.best && worker->report.bestmove != task.move &&
                        !next_position_searched(tasks, finished, queued)) {
                        Task played = task;
                        played.best = false;
                        tasks.push_back(std::move(played));
                        reports.emplace_back();
                        worker->task = tasks.size() - 1;
                        worker->report = {};
                        worker->deadline = Clock::now() + search_wait;
                        if (!worker->engine.send(go_line(schedule.limits, task.move), why))
                            return fail(why + " (move " + task.label + ")");
                    }
                    progress(++done, tasks.size());
                    if (!worker->task && next < queued && !assign(*worker, why))
                        return fail(why + " (move " + tasks[next - 1].label + ")");
                }
            }
            if (worker->task && worker->engine.failed())
                return fail(worker->engine.failure() + " (move " + tasks[*worker->task].label + ")");
            if (worker->task && Clock::now() >= worker->deadline) {
                const auto seconds = std::chrono::duration_cast<std::chrono::duration<double>>(
                    worker->ready_asked ? wait : search_wait).count();
                std::array<char, 32> text{};
                std::snprintf(text.data(), text.size(), "%g", seconds);
                return fail(std::string(worker->ready_asked ? "did not answer 'isready' within "
                                                            : "gave no 'bestmove' within ") +
                            text.data() + " s (move " + tasks[*worker->task].label + ")");
            }
        }
    }
    for (const auto& worker : workers)
        worker->engine.stop(STOP_GRACE);
    return std::nullopt;
}

SearchReport as_move_into(const SearchReport& after) {
    SearchReport report = after;
    report.bestmove.clear();
    // A mate in n for the side to move there is one against the mover; a
    // mate against it (0 when it is mated already) is the mover's, a move
    // further off.
    report.score = after.mate && after.score <= 0 ? 1 - after.score : -after.score;
    return report;
}

std::vector<SearchReport> played_reports(const std::vector<Task>& tasks, const std::vector<SearchReport>& reports) {
    std::size_t positions = 0;
    while (positions < tasks.size() && tasks[positions].best)
        ++positions;
    std::vector<SearchReport> played(reports.begin(), reports.begin() + static_cast<std::ptrdiff_t>(positions));
    for (std::size_t p = 0; p < positions; ++p)
        if (reports[p].bestmove != tasks[p].move && next_position_searched(tasks, p, positions))
            played[p] = as_move_into(reports[p + 1]);
    // The searches of their own, in the order they were done.
    for (std::size_t k = positions; k < tasks.size(); ++k)
        for (std::size_t p = 0; p < positions; ++p)
            if (tasks[p].index == tasks[k].index)
                played[p] = reports[k];
    return played;
}

} // namespace tavrik
