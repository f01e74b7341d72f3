#pragma once

#include "batch.h"
#include "status.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Each computer keeps a log of its saves beside data.txt, written by that
// computer alone. An entry names its batch by an id no other batch has, and
// the version of data.txt it wrote by the batches that version holds: so a
// sync program's conflict copy adds exactly the batches data.txt lacks. No
// clock and no file's absence decides anything here.

namespace hostally {

// A batch's id: the computer that saved it and its number there, counted up
// from 1 on that computer and never used again.
struct BatchId {
    std::string computer;
    std::int64_t seq = 0;

    friend bool operator==(const BatchId &a, const BatchId &b)
    {
        return a.seq == b.seq && a.computer == b.computer;
    }
    friend bool operator!=(const BatchId &a, const BatchId &b) { return !(a == b); }
    friend bool operator<(const BatchId &a, const BatchId &b)
    {
        return a.computer != b.computer ? a.computer < b.computer : a.seq < b.seq;
    }
};

// The batches a version of data.txt holds, counted from its root: the first
// save from a version that no log knew (a hand edit, say), which holds what
// came before it in ways no log can tell.
struct Held {
    BatchId root;
    // Per computer, sorted disjoint ranges of numbers, first and last included.
    std::map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>> ranges;

    bool contains(const BatchId &id) const;
    void insert(const BatchId &id);
    void unite(const Held &other);
    // The ids held here that `other` lacks, in id order.
    std::vector<BatchId> minus(const Held &other) const;

    friend bool operator==(const Held &a, const Held &b)
    {
        return a.root == b.root && a.ranges == b.ranges;
    }
};

// How logs name a version of data.txt: a 64-bit FNV-1a hash of its bytes.
std::uint64_t versionHash(std::string_view bytes);

// One save, as its computer's log keeps it.
struct Entry {
    std::int64_t seq = 0;
    std::uint64_t before = 0; // the version of data.txt it read
    std::uint64_t after = 0; // the version it wrote, `before` when it wrote none
    Held held; // what `after` holds
    Batch batch;
    std::vector<std::string> consumed; // the recovery files it saved, by id
    std::string newFile; // the new file renamed over data.txt; empty for none

    BatchId id(const std::string &computer) const { return {computer, seq}; }
};

// One computer's log.
struct Log {
    std::string computer; // its id, as BatchId names it
    std::string name; // its host name, for the words users read
    std::int64_t next = 1; // the number of its next batch
    std::vector<Entry> entries; // oldest first
    std::vector<std::string> declined; // recovery files the user chose not to keep, by id
};

// How many entries and declined ids a log keeps: some weeks offline.
constexpr std::size_t kEntriesKept = 100;

// The bytes of a log file.
std::string formatLog(const Log &log);

// Reads a log file into `log`; fails, leaving it untouched, for what
// formatLog() cannot have written.
Status parseLog(std::string_view text, Log &log);

// What the logs say a version of data.txt holds.
struct Reading {
    enum class Kind {
        Unknown, // no log knows it (a hand edit), or this computer's own save replaced it
        Known,
        Ambiguous, // saves that held different batches wrote the same bytes
    };
    Kind kind = Kind::Unknown;
    // Known: what it holds; Ambiguous: what this computer's own, or else the
    // first, of those saves held; Unknown: nothing, in the root that saves
    // from it start, named by its bytes, or none for a root of its own.
    Held held;
    Held all; // Ambiguous: what all of them held together
};

// Reads the version `hash`, data.txt's or a conflict copy's, from every
// computer's `logs`, as computer `me` finds it. Of each computer the latest
// entry that wrote it counts. A version some save replaced since is none the
// logs know: data.txt only goes back to it by a hand edit (or a sync program
// that brings a later one last), and a copy holds a data.txt as the sync
// program took it from the losing computer, which never saves over it.
Reading readVersion(const std::vector<Log> &logs, std::uint64_t hash, const std::string &me);

// The batches a sync program may have dropped from data.txt, the version
// `view` that holds `held`: those of saves that wrote the bytes it, or a
// save it holds, read, which it does not hold. A sync program takes two
// computers' equal data.txt for one file.
std::vector<BatchId> mayBeDropped(
    const std::vector<Log> &logs, std::uint64_t view, const Held &held);

// The entry of batch `id` in `logs`, if it is still kept there.
const Entry *findEntry(const std::vector<Log> &logs, const BatchId &id);

// What became of a save whose entry is `me`'s last, as data.txt, now the
// version `view`, and every log show it.
enum class Fate {
    Done, // some later save holds its batch, or data.txt is what it wrote
    NotDone, // data.txt is still what it read: its rename never happened
    Undecided, // nothing on the disk tells
};
Fate fateOf(
    const std::vector<Log> &logs, const std::string &me, const Entry &entry, std::uint64_t view);

} // namespace hostally
