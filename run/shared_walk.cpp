// The walk of a long game on two threads.
//
// Its half-moves fall into stretches, which the two threads take in turn,
// each the next one left. This thread writes a stretch it takes straight
// to the output when every stretch before it is out; otherwise, as the
// second thread always does, into a slot in memory, which this thread
// passes on once the stretches before it are. Each thread replays the
// stretches the other took, so that its board stands at the start of
// each one it takes; the page at a stretch's start follows from the
// diagrams before it. No stretch is taken more than SLOTS ahead of the
// next to pass on, so the memory held stays small whatever the game's
// length.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "position/position.h"
#include "record/record.h"
#include "run/run.h"
#include "sheet/sheet.h"
#include "threads/threads.h"

namespace tavrik {

namespace {

// A stretch's diagrams fit a slot's buffer, which longer ones would
// overflow into a growing string.
constexpr std::int64_t STRETCH = 1024;
constexpr std::int64_t SLOTS = 4;

enum StretchState : unsigned char { PENDING, IN_SLOT, GIVEN_BACK };

// Written by both threads at once, each slot on cache lines of its own:
// sharing one, the two threads' appends took turns at it and the walk
// took longer on two threads than on one.
struct alignas(128) Slot {
    Output output{nullptr};
};

struct SharedWalk {
    SharedWalk(const MoveTable& table_, const HalfMoveRange& range_, Layout layout_)
        : table(table_), range(range_), layout(layout_),
          stretches(std::max<std::int64_t>(0, range.end - table.first + STRETCH - 1) / STRETCH),
          states(static_cast<std::size_t>(stretches)), slots(SLOTS) {}

    const MoveTable& table;
    HalfMoveRange range;
    Layout layout;
    std::int64_t stretches;
    std::atomic<std::int64_t> next_taken{0};
    std::atomic<std::int64_t> next_passed{0};
    std::vector<std::atomic<unsigned char>> states; // PENDING at first
    std::vector<Slot> slots;
    std::atomic<bool> stopping{false}; // this thread is leaving early
    std::int64_t helper_wrote = 0;     // read once the helper is joined
};

// Waits for the value to differ from `seen`: a while awake, as the wait
// is mostly short (a stretch takes some tens of microseconds to write),
// then asleep, so that a thread waiting on the other's output, blocked
// on a slow pipe, leaves the CPU to the reader of that pipe.
template <class T>
void wait_while(const std::atomic<T>& value, T seen) {
    for (int spins = 0; spins < 1000; ++spins) {
        if (value.load() != seen)
            return;
        std::this_thread::yield();
    }
    value.wait(seen);
}

// A thread's board, and the stretches it has seen.
struct Walker {
    Board board;
    std::int64_t at = 0;
};

std::int64_t stretch_begin(const SharedWalk& walk, std::int64_t k) {
    return walk.table.first + k * STRETCH;
}

std::int64_t stretch_end(const SharedWalk& walk, std::int64_t k) {
    return std::min(walk.range.end, stretch_begin(walk, k + 1));
}

std::size_t index(std::int64_t k) { return static_cast<std::size_t>(k); }

Output& slot_of(SharedWalk& walk, std::int64_t k) {
    return walk.slots[index(k % SLOTS)].output;
}

// Writes stretch k, after replaying those before it that the walker has
// not seen.
void write_stretch(SharedWalk& walk, std::int64_t k, Walker& walker, Output& out) {
    for (; walker.at < k; ++walker.at)
        for (std::int64_t i = stretch_begin(walk, walker.at); i < stretch_end(walk, walker.at); ++i)
            replay_half_move(walker.board, walk.table, i);
    const std::int64_t begin = stretch_begin(walk, k);
    PageState page = page_after_diagrams(std::max<std::int64_t>(0, begin - walk.range.start), walk.layout);
    for (std::int64_t i = begin; i < stretch_end(walk, k); ++i)
        print_half_move(walk.table, walk.range, i, walker.board, page, out);
    walker.at = k + 1;
}

constexpr std::int64_t NONE_LEFT = -1;
constexpr std::int64_t NO_SLOT_YET = -2;

// The next stretch left, once its slot is free.
std::int64_t take_stretch(SharedWalk& walk) {
    std::int64_t k = walk.next_taken.load();
    while (k < walk.stretches) {
        if (k >= walk.next_passed.load() + SLOTS)
            return NO_SLOT_YET;
        if (walk.next_taken.compare_exchange_weak(k, k + 1))
            return k;
    }
    return NONE_LEFT;
}

void set_state(SharedWalk& walk, std::int64_t k, StretchState state) {
    walk.states[index(k)].store(state);
    walk.states[index(k)].notify_one();
}

void set_passed(SharedWalk& walk, std::int64_t passed) {
    walk.next_passed.store(passed);
    walk.next_passed.notify_one();
}

// The second thread's part. A stretch it cannot write (no memory) it
// gives back, and stops.
void help(SharedWalk& walk, const Board& start) {
    Walker walker{start};
    while (!walk.stopping.load()) {
        const std::int64_t passed = walk.next_passed.load();
        const std::int64_t k = take_stretch(walk);
        if (k == NONE_LEFT)
            return;
        if (k == NO_SLOT_YET) {
            wait_while(walk.next_passed, passed);
            continue;
        }
        try {
            write_stretch(walk, k, walker, slot_of(walk, k));
        } catch (const std::exception&) {
            set_state(walk, k, GIVEN_BACK);
            return;
        }
        ++walk.helper_wrote;
        set_state(walk, k, IN_SLOT);
    }
}

// Lets the second thread go when this one leaves, however it leaves: a
// helper waiting for a slot would otherwise wait for ever.
struct LetHelperGo {
    explicit LetHelperGo(SharedWalk& walk_) : walk(walk_) {}
    LetHelperGo(const LetHelperGo&) = delete;
    LetHelperGo& operator=(const LetHelperGo&) = delete;
    ~LetHelperGo() {
        walk.stopping.store(true);
        set_passed(walk, walk.stretches + SLOTS);
    }

    SharedWalk& walk;
};

} // namespace

PageState page_after_diagrams(std::int64_t diagrams, Layout layout) {
    PageState page;
    page.layout = layout;
    if (diagrams > 0) {
        page.boards_on_page = static_cast<int>((diagrams - 1) % boards_per_page(layout)) + 1;
        page.boards_in_row = static_cast<int>(diagrams % boards_per_row(layout));
    }
    return page;
}

std::int64_t print_game_on_two_threads(const MoveTable& table, const Board& start,
                                       const RangeArgs& args, PageState& page, Output& out) {
    const HalfMoveRange range = half_move_range(args, table.count(), table.first);
    if (page.boards_on_page != 0 || page.boards_in_row != 0 || page.titled) {
        print_game(table, start, args, page, out);
        return 0;
    }
    SharedWalk walk(table, range, page.layout);

    Walker walker{start};
    {
        std::jthread helper;
        try {
            helper = std::jthread([&walk, &start, cpus = other_cpus()] {
                keep_to(cpus);
                help(walk, start);
            });
        } catch (const std::exception&) {
            // Without a second thread this one takes every stretch.
        }
        const LetHelperGo let_go{walk};
        for (std::int64_t passed = 0; passed < walk.stretches;) {
            const unsigned char state = walk.states[index(passed)].load();
            if (state == IN_SLOT) {
                put_kept_output(out, slot_of(walk, passed));
                set_passed(walk, ++passed);
                continue;
            }
            if (state == GIVEN_BACK) {
                discard_kept_output(slot_of(walk, passed));
                write_stretch(walk, passed, walker, out);
                set_passed(walk, ++passed);
                continue;
            }
            const std::int64_t k = take_stretch(walk);
            if (k == passed) {
                write_stretch(walk, k, walker, out);
                set_passed(walk, ++passed);
            } else if (k >= 0) {
                write_stretch(walk, k, walker, slot_of(walk, k));
                set_state(walk, k, IN_SLOT);
            } else {
                // The second thread is writing the next stretch to pass on.
                wait_while(walk.states[index(passed)], static_cast<unsigned char>(PENDING));
            }
        }
    }
    page = page_after_diagrams(std::max<std::int64_t>(0, range.end - range.start), page.layout);
    return walk.helper_wrote;
}

} // namespace tavrik
