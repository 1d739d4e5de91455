#pragma once

#include <string_view>

#include "Document/Disk/DiskChangeReaction.hpp"

namespace larkspin {

// What a document's disk watch is doing, one state at a time. Which file the
// path leads to is not the watch's question (the file tracker decides moves
// and replacements); the watch waits for a verdict on the file's content and
// acts on it.
enum class DiskWatchState {
    stopped,     // nothing watched
    watching,    // the file is watched; the next verdict is judged
    reloading,   // the file is read again for the document
    grace,       // gone after a rename: the tracker's grace runs; missing only on its word
    missing,     // marked missing; its folder is still watched for the file's return
    unreadable,  // not readable (permission, read error); a fresh verdict starts the watch again
    parked,      // a save runs: the last verdict waits for its end
};

// Whether the watch may go from `from` to `to` (staying is always allowed).
// The moves, in one table:
//
// | from       | to                                                          |
// |------------|-------------------------------------------------------------|
// | stopped    | watching                                                    |
// | watching   | any                                                         |
// | reloading  | any                                                         |
// | grace      | any                                                         |
// | missing    | any but grace (a missing file gets no grace period)         |
// | unreadable | any                                                         |
// | parked     | stopped, watching (the save's end replays the verdict)      |
//
// Nothing is ever reloaded, parked, missing or in grace without a watch:
// from stopped only a start leads anywhere.
bool isAllowedMove(DiskWatchState from, DiskWatchState to);

// The state a judged verdict's action leads to.
DiskWatchState stateAfter(DiskChangeAction action);

// For log lines: "watching", "grace"…
std::string_view rawValue(DiskWatchState state);

}  // namespace larkspin
