#include "log.h"

#include "text_reader.h"

#include <algorithm>
#include <cstdio>

namespace hostally {

namespace {

constexpr std::string_view kFirstLine = "Hostally log, form 1";
// No computer saves this often: a range longer, or a number larger, is a
// damaged file, and the numbers stay far from overflowing.
constexpr std::int64_t kLongestRange = 1000000;
constexpr std::int64_t kLargestSeq = 1000000000000;

std::string hex(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

bool fromHex(std::string_view text, std::uint64_t &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return text.size() == 16 && error == std::errc() && end == text.data() + text.size();
}

// "held <computer> 1-4,7": the numbers of one computer's batches, as ranges.
void formatHeld(const Held &held, std::string &out)
{
    for (const auto &[computer, ranges] : held.ids.ranges()) {
        std::string line = "held " + computer + " ";
        for (const auto &[first, last] : ranges)
            line += (line.back() == ' ' ? "" : ",") + std::to_string(first)
                + (last == first ? "" : "-" + std::to_string(last));
        out.append(line).append(kLineEnd);
    }
}

bool parseHeld(std::string_view text, const std::string &computer, Held &held)
{
    std::int64_t previous = 0;
    while (!text.empty()) {
        const std::string_view range = text.substr(0, text.find(','));
        const std::size_t dash = std::min(range.find('-'), range.size());
        std::int64_t first = 0, last = 0;
        if (!toNumber(range.substr(0, dash), first)
            || !toNumber(dash < range.size() ? range.substr(dash + 1) : range, last) || first < 1
            || (previous > 0 && first <= previous + 1) || last < first
            || last - first > kLongestRange || last > kLargestSeq)
            return false;
        held.ids.insert(computer, first, last);
        previous = last;
        text.remove_prefix(std::min(range.size() + 1, text.size()));
    }
    return previous > 0;
}

// Splits `line` into `n` words at spaces, the last taking the rest; false
// when one would be empty.
bool words(std::string_view line, std::string_view *word, int n)
{
    for (int i = 0; i < n; ++i) {
        const std::size_t space = i + 1 < n ? line.find(' ') : line.size();
        if (space == line.npos || space == 0)
            return false;
        word[i] = line.substr(0, space);
        line.remove_prefix(std::min(space + 1, line.size()));
    }
    return true;
}

} // namespace

bool IdSet::contains(const BatchId &id) const
{
    const auto ranges = m_ranges.find(id.computer);
    if (ranges == m_ranges.end())
        return false;
    const auto after = std::upper_bound(ranges->second.begin(), ranges->second.end(), id.seq,
        [](std::int64_t seq, const Range &r) { return seq < r.first; });
    return after != ranges->second.begin() && std::prev(after)->second >= id.seq;
}

void IdSet::insert(const std::string &computer, std::int64_t first, std::int64_t last)
{
    std::vector<Range> &ranges = m_ranges[computer];
    // The ranges that overlap or touch [first, last] become one.
    auto at = std::lower_bound(ranges.begin(), ranges.end(), first,
        [](const Range &r, std::int64_t seq) { return r.second + 1 < seq; });
    auto end = at;
    for (; end != ranges.end() && end->first <= last + 1; ++end)
        first = std::min(first, end->first), last = std::max(last, end->second);
    ranges.insert(ranges.erase(at, end), {first, last});
}

void IdSet::insert(const IdSet &other)
{
    for (const auto &[computer, ranges] : other.m_ranges)
        for (const auto &[first, last] : ranges)
            insert(computer, first, last);
}

std::int64_t IdSet::last(const std::string &computer) const
{
    const auto ranges = m_ranges.find(computer);
    return ranges == m_ranges.end() ? 0 : ranges->second.back().second;
}

std::vector<BatchId> minus(const Held &a, const Held &b)
{
    std::vector<BatchId> out;
    for (const auto &[computer, ranges] : a.ids.ranges())
        for (const auto &[first, last] : ranges)
            for (std::int64_t seq = first; seq <= last; ++seq)
                if (!b.ids.contains({computer, seq}))
                    out.push_back({computer, seq});
    return out;
}

std::uint64_t versionHash(std::string_view bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char c : bytes)
        hash = (hash ^ c) * 0x100000001b3ULL;
    return hash;
}

std::string formatLog(const Log &log)
{
    std::string out;
    const auto line = [&out](const std::string &text) { out.append(text).append(kLineEnd); };
    line(std::string(kFirstLine));
    line("computer " + log.computer + " " + log.name);
    line("next " + std::to_string(log.next));
    for (const std::string &id : log.declined)
        line("declined " + id);
    for (const Entry &entry : log.entries) {
        line("entry " + std::to_string(entry.seq) + " " + hex(entry.before) + " " + hex(entry.after)
            + " " + entry.held.root.computer + " " + std::to_string(entry.held.root.seq));
        formatHeld(entry.held, out);
        if (!entry.newFile.empty())
            line("new " + entry.newFile);
        for (const std::string &id : entry.consumed)
            line("consumed " + id);
        formatBatch(entry.batch, out);
    }
    return out;
}

Status parseLog(std::string_view text, Log &log)
{
    const Status damaged = Status::failure(0, "it is incomplete or damaged");
    Reader reader(text);
    std::string_view line, w[6];
    Log read;
    if (!reader.line(line) || line != kFirstLine)
        return Status::failure(0, "it is not a log Hostally wrote");
    if (!reader.line(line) || !words(line, w, 3) || w[0] != "computer"
        || !reader.number("next", read.next) || read.next < 1 || read.next > kLargestSeq)
        return damaged;
    read.computer = std::string(w[1]);
    read.name = std::string(w[2]);
    while (reader.line(line)) {
        Entry *entry = read.entries.empty() ? nullptr : &read.entries.back();
        if (!words(line, w, 2)) {
            return damaged;
        } else if (w[0] == "declined" && !entry) {
            read.declined.emplace_back(w[1]);
        } else if (w[0] == "entry") {
            const std::int64_t previous = entry ? entry->seq : 0;
            Entry &added = read.entries.emplace_back();
            if (!words(line, w, 6) || !toNumber(w[1], added.seq) || added.seq <= previous
                || added.seq >= read.next || !fromHex(w[2], added.before)
                || !fromHex(w[3], added.after) || !toNumber(w[5], added.held.root.seq))
                return damaged;
            added.held.root.computer = std::string(w[4]);
        } else if (!entry) {
            return damaged;
        } else if (w[0] == "held") {
            if (!words(line, w, 3) || !parseHeld(w[2], std::string(w[1]), entry->held))
                return damaged;
        } else if (w[0] == "new") {
            entry->newFile = std::string(w[1]);
        } else if (w[0] == "consumed") {
            entry->consumed.emplace_back(w[1]);
        } else if (!parseBatchLine(line, entry->batch)) {
            return damaged;
        }
    }
    if (!reader.atEnd())
        return damaged;
    log = std::move(read);
    return Status::success();
}

namespace {

// Whether a computer that read `bytes` as none the logs knew, starting
// `root`, wrote those bytes again later: the root's are the earlier ones.
bool writtenAgain(const std::vector<Log> &logs, std::uint64_t bytes, const BatchId &root)
{
    return std::any_of(logs.begin(), logs.end(), [&](const Log &log) {
        const auto first = std::find_if(log.entries.begin(), log.entries.end(),
            [&](const Entry &e) { return e.held.root == root && e.before == bytes; });
        return first != log.entries.end()
            && std::any_of(std::next(first), log.entries.end(),
                [&](const Entry &e) { return e.after == bytes; });
    });
}

Reading readAt(const std::vector<Log> &logs, std::uint64_t hash, const std::string &me, int depth)
{
    std::vector<Held> candidates;
    int own = -1;
    for (const Log &log : logs) {
        const auto last = std::find_if(log.entries.rbegin(), log.entries.rend(),
            [hash](const Entry &e) { return e.after == hash || e.before == hash; });
        if (last == log.entries.rend())
            continue;
        // Read and replaced by a later save: only a hand edit makes it again,
        // or a sync program that brings a later version last. Either way no
        // log can tell what it holds.
        if (last->after != hash)
            return {};
        own = log.computer == me ? int(candidates.size()) : own;
        Held held = last->held;
        // A root named by bytes no log knew then holds what they held, once
        // a log tells, as when a sync program brings that log after data.txt.
        std::uint64_t start = 0;
        if (depth > 0 && held.root.seq == 0 && held.root.computer.size() == 17
            && fromHex(held.root.computer.substr(1), start)
            && !writtenAgain(logs, start, held.root)) {
            Reading known = readAt(logs, start, me, depth - 1);
            if (known.known && known.held.root != held.root) {
                known.held.ids.insert(held.ids);
                held = known.held;
            }
        }
        candidates.push_back(std::move(held));
    }
    if (candidates.empty()) {
        // Saves from these bytes on any computer share a root named by them,
        // unless this computer was there before: then it is a hand correction.
        Reading unknown;
        unknown.held.root = {"v" + hex(hash), 0};
        for (const Log &log : logs) {
            for (const Entry &entry : log.entries) {
                if (log.computer == me && entry.held.root == unknown.held.root)
                    return {};
            }
        }
        return unknown;
    }
    // Two histories, of one root or two, that wrote the same bytes.
    Held all;
    all.root = candidates[std::size_t(std::max(own, 0))].root;
    for (const Held &held : candidates)
        all.ids.insert(held.ids);
    if (std::any_of(candidates.begin(), candidates.end(),
            [&](const Held &h) { return h.root != all.root; }))
        return {false, candidates[std::size_t(std::max(own, 0))]};
    // The one holding every other's batches is the version, as an Add and a
    // Remove since write the same counts; else it is ambiguous.
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if ((own < 0 || int(i) == own) && candidates[i].ids == all.ids)
            return {true, candidates[i]};
    }
    return {false, candidates[std::size_t(std::max(own, 0))]};
}

} // namespace

Reading readVersion(const std::vector<Log> &logs, std::uint64_t hash, const std::string &me)
{
    return readAt(logs, hash, me, 4);
}

std::vector<BatchId> mayBeDropped(
    const std::vector<Log> &logs, std::uint64_t view, const Held &held)
{
    // The versions the view's history read: its own, and what each save it
    // holds read, but for saves that started a root of their own.
    std::vector<std::pair<std::uint64_t, BatchId>> read {{view, {}}};
    for (const Log &log : logs) {
        for (const Entry &entry : log.entries) {
            const BatchId id = entry.id(log.computer);
            if (held.ids.contains(id) && entry.held.root == held.root && entry.held.root != id)
                read.push_back({entry.before, id});
        }
    }
    // Of those, the ones this history wrote: bytes another history wrote
    // too may have been taken for them by a sync program, even in a root
    // named by bytes, which starts where this one's bytes are.
    const auto ours = [&](std::uint64_t bytes) {
        return std::any_of(logs.begin(), logs.end(), [&](const Log &log) {
            return std::any_of(log.entries.begin(), log.entries.end(),
                [&](const Entry &e) { return e.after == bytes && e.held.root == held.root; });
        });
    };
    // Of a computer's saves that touched some bytes, its latest tells: its
    // later save read something else, and no sync program brought that back.
    const auto latest = [](const Log &log, const Entry &entry, std::uint64_t bytes) {
        return std::none_of(&entry + 1, log.entries.data() + log.entries.size(),
            [&](const Entry &e) { return e.after == bytes || e.before == bytes; });
    };
    Held missing;
    for (const Log &log : logs) {
        for (const Entry &entry : log.entries) {
            // A save after the one that read those bytes wrote them again.
            if (std::any_of(read.begin(), read.end(), [&](const auto &r) {
                    return r.first == entry.after && !entry.held.ids.contains(r.second)
                        && (entry.held.root == held.root
                            || (ours(r.first) && latest(log, entry, r.first)));
                }))
                missing.ids.insert(entry.held.ids);
        }
    }
    return minus(missing, held);
}

const Entry *findEntry(const std::vector<Log> &logs, const BatchId &id)
{
    for (const Log &log : logs) {
        for (const Entry &entry : log.entries) {
            if (entry.id(log.computer) == id)
                return &entry;
        }
    }
    return nullptr;
}

} // namespace hostally
