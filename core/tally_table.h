#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostally {

// Largest magnitude a count may have. Keeping counts inside it means no total
// of up to 103 entries can overflow, and every count the program writes it can
// read back.
constexpr std::int64_t kCountLimit = 999'999'999'999'999;

// A count or total as shown on screen: a sign position (a space, or "-" for a
// negative value) followed by the decimal digits, e.g. " 7", " 0", "-2".
std::string numberText(std::int64_t value);

// One named counter. The name is the data file's raw bytes, never changed by
// the program; name_text.h says how they are read.
struct TallyEntry {
    std::string name;
    std::int64_t count = 0;

    friend bool operator==(const TallyEntry &a, const TallyEntry &b)
    {
        return a.name == b.name && a.count == b.count;
    }
};

// A fixed-capacity, ordered table of counters whose total is always the sum of
// the counts of its used slots.
class TallyTable {
public:
    // Makes an empty table (used 0, total 0) with room for `capacity` slots.
    explicit TallyTable(int capacity) : m_slots(capacity > 0 ? capacity : 0) { }

    // Puts `name` and `count` into slot i, slots up to i becoming used and the
    // total following the change; an i outside 0 to capacity changes nothing.
    void setEntry(int i, std::string name, std::int64_t count);

    // Raises the count of used slot i and the total by 1. Returns false, and
    // changes nothing, when the count is already at kCountLimit or i is unused.
    bool add(int i);

    // Lowers the count of used slot i and the total by 1 unless the count is
    // exactly 0 or at -kCountLimit, or i is unused. Returns whether it did.
    bool remove(int i);

    // Sets the count of every used slot, and the total, to 0.
    void reset();

    // The list line of used slot i: the name's bytes, padded with spaces to
    // 13 characters as nameLength() counts them, then "-" and the count's
    // number text. The line reads as UTF-8 exactly when the name does.
    std::string entryLine(int i) const;

    // "Total Hosted: " followed by the total's number text.
    std::string totalLine() const { return "Total Hosted: " + numberText(m_total); }

    // Accessors; i must be a used slot.
    const std::string &name(int i) const { return entry(i).name; }
    std::int64_t count(int i) const { return entry(i).count; }
    const TallyEntry &entry(int i) const;
    int used() const { return m_used; }
    int capacity() const { return static_cast<int>(m_slots.size()); }
    std::int64_t total() const { return m_total; }

    friend bool operator==(const TallyTable &a, const TallyTable &b);
    friend bool operator!=(const TallyTable &a, const TallyTable &b) { return !(a == b); }

private:
    bool isUsed(int i) const { return i >= 0 && i < m_used; }

    std::vector<TallyEntry> m_slots;
    int m_used = 0;
    std::int64_t m_total = 0;
};

constexpr int kLeagueCapacity = 3;
constexpr int kEventCapacity = 100;

// Both tables of one data file, or of one window.
struct Tallies {
    TallyTable leagues {kLeagueCapacity};
    TallyTable events {kEventCapacity};

    friend bool operator==(const Tallies &a, const Tallies &b)
    {
        return a.leagues == b.leagues && a.events == b.events;
    }
};

// Which of the window's lists were reset since it last read or wrote the file.
// A reset list's counts in the window are what it counted since the Reset.
struct Resets {
    bool leagues = false;
    bool events = false;

    bool any() const { return leagues || events; }
};

} // namespace hostally
