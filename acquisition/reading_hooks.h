// What the reading tells whoever watches it for conditions worth raising
// (an alert engine, connected by the program's start-up): the fill of the
// exchange's billing buffer, a silence of the exchange, and a reading held
// because the call log or the state file cannot be written. Every hook is
// optional and must not wait: the reading waits for it.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/exchange_model.h"

// One unit's billing buffer as its status showed it.
struct TUnitBufferFill {
    int Unit = 0;      // from 0
    int Capacity = 0;  // records it has room for
    int Records = 0;   // records it holds
    // Records per cent of Capacity, rounded down (0 for an empty buffer; a
    // unit claiming room for none but holding records counts as 100; one
    // claiming more records than room, above 100).
    int Percent = 0;
};

// Where a silence of the exchange stands.
enum class TSilenceStep {
    Began,    // a request went unanswered after answers (or at the start)
    Lasting,  // still no answer, once more asked
    Ended,    // it answers again
};

struct TReadingHooks {
    // Every time the buffer status of every unit was read: each
    // identification that succeeded (start-up, opening the port, each
    // reading's start, the port opened again during continuous reading).
    // Called on the thread that identified: the user-interface thread, or
    // the reading thread for the port opened again.
    std::function<void(const std::vector<TUnitBufferFill>& units)> BufferRead;
    // On the reading thread, where the reading follows whether the exchange
    // answers (after each pass over the buffer and each try to reach it
    // again): Began once a pass or a try fails after answers, with lasted 0;
    // Lasting at every later failed one, with how long it has lasted so far
    // on the link's clock; Ended at the first answer after it, with how
    // long it lasted. The journal's line about a silence comes only after
    // ReadATSThread::kSilenceMinutes, the hook from the start.
    std::function<void(TSilenceStep step, std::chrono::seconds lasted)> Silence;
    // When the call log or the state file could not be written, so that the
    // lines wait and the reading holds (held true; text: why, naming the
    // file), and when the waiting lines went to the file at last (held
    // false; text: the journal's line about writing resumed). Once per
    // episode each, on the thread that wrote: the reading thread, or the
    // user-interface thread when a command writes the waiting lines first.
    std::function<void(bool held, const std::string& text)> Held;
};

// The fill of every unit by the identification x (empty when it read none).
std::vector<TUnitBufferFill> BufferFill(const TIdentification& x);

// The hooks as they stand, shared by the controller and its readers: set
// at any time from any thread, also while a reading runs (the program sets
// them once its main window, which starts up, exists), and read by each
// call. A silence under way when they are set is heard first as Lasting.
class TReadingHookSlot {
  public:
    // Takes hooks; the buffer-read hook hears at once the fill last read
    // before, if any (so that start-up's is not missed).
    void Set(TReadingHooks hooks);
    // A copy of the hooks, to be called outside the slot's lock.
    TReadingHooks Get() const;
    // Tells the buffer-read hook of the fill of every unit by x, just
    // identified, and keeps it for hooks set later.
    void TellBufferFill(const TIdentification& x);

  private:
    mutable std::mutex mutex_;
    TReadingHooks hooks_;
    std::vector<TUnitBufferFill> lastFill_;
};
