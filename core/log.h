#pragma once

#include "batch.h"
#include "status.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

// Each computer keeps a log of its saves beside data.txt, written by it
// alone. An entry names its batch by an id no other batch has, and the
// version it wrote by the batches that version holds, so that a conflict
// copy adds exactly what data.txt lacks. No clock and no file's absence
// decides anything here.

namespace hostally {

// A batch's id: its computer, and its number there, counted from 1, never reused.
struct BatchId {
    std::string computer;
    std::int64_t seq = 0;

    friend bool operator<(const BatchId &a, const BatchId &b)
    {
        return std::tie(a.computer, a.seq) < std::tie(b.computer, b.seq);
    }
    friend bool operator==(const BatchId &a, const BatchId &b) { return !(a < b) && !(b < a); }
    friend bool operator!=(const BatchId &a, const BatchId &b) { return !(a == b); }
};

// A set of batch ids, kept as each computer's ranges of numbers: a version
// holds every batch since its root, thousands after some years, and every
// save reads a hundred entries of each log.
class IdSet {
public:
    using Range = std::pair<std::int64_t, std::int64_t>; // first and last, both held

    // Whether `id` is in the set.
    bool contains(const BatchId &id) const;
    // Adds the numbers `first` to `last` of `computer`'s batches.
    void insert(const std::string &computer, std::int64_t first, std::int64_t last);
    void insert(const BatchId &id) { insert(id.computer, id.seq, id.seq); }
    void insert(const IdSet &other);
    template<class It> void insert(It first, It last)
    {
        for (; first != last; ++first)
            insert(*first);
    }
    // The highest number of `computer`'s batches in the set, 0 for none.
    std::int64_t last(const std::string &computer) const;
    // Each computer's ranges, in order, apart and not touching.
    const std::map<std::string, std::vector<Range>> &ranges() const { return m_ranges; }

    friend bool operator==(const IdSet &a, const IdSet &b) { return a.m_ranges == b.m_ranges; }

private:
    std::map<std::string, std::vector<Range>> m_ranges; // no computer without a range
};

// The batches a version of data.txt holds since its root: the first save
// from a version no log knew (a hand edit, say), which holds what came
// before in ways no log can tell.
struct Held {
    BatchId root;
    IdSet ids;

    friend bool operator==(const Held &a, const Held &b)
    {
        return a.root == b.root && a.ids == b.ids;
    }
};

// The ids `a` holds and `b` lacks, in id order.
std::vector<BatchId> minus(const Held &a, const Held &b);

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
    std::string computer; // its id
    std::string name; // its host name, for the words users read
    std::int64_t next = 1; // the number of its next batch
    std::vector<Entry> entries; // oldest first
    std::vector<std::string> declined; // recovery files the user chose not to keep, by id
};

// How many entries and declined ids a log keeps: some weeks offline.
constexpr std::size_t kEntriesKept = 100;

// The bytes of a log file.
std::string formatLog(const Log &log);

// Reads a log file into `log`; fails, leaving it untouched, for what formatLog() cannot write.
Status parseLog(std::string_view text, Log &log);

// What the logs say a version of data.txt holds: when not `known`, the root
// that saves from it start (named by its bytes; none of its own when this
// computer's own save replaced it), or, where saves that held different
// batches wrote it, what this computer's, or else the first, of them held.
struct Reading {
    bool known = false;
    Held held;
};

// Reads the version `hash` from every computer's `logs`, as computer `me`
// finds it: of each computer the latest entry that wrote it counts, and a
// version a later save of `me`'s read and replaced is none the logs know.
Reading readVersion(const std::vector<Log> &logs, std::uint64_t hash, const std::string &me);

// The batches a sync program may have dropped from data.txt, the version
// `view` holding `held`: those of saves that wrote bytes the view's history
// read, which it lacks. A sync program takes two equal files for one.
std::vector<BatchId> mayBeDropped(
    const std::vector<Log> &logs, std::uint64_t view, const Held &held);

// The entry of batch `id` in `logs`, if it is still kept there.
const Entry *findEntry(const std::vector<Log> &logs, const BatchId &id);

} // namespace hostally
