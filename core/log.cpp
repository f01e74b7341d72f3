#include "log.h"

#include "text_reader.h"

#include <algorithm>
#include <cstdio>

namespace hostally {

namespace {

constexpr std::string_view kFirstLine = "Hostally log, form 1";

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

// "1-4,7": the ranges of one computer's numbers.
std::string formatRanges(const std::vector<std::pair<std::int64_t, std::int64_t>> &ranges)
{
    std::string out;
    for (const auto &[first, last] : ranges) {
        out += (out.empty() ? "" : ",") + std::to_string(first);
        if (last != first)
            out += "-" + std::to_string(last);
    }
    return out;
}

bool parseRanges(std::string_view text, const std::string &computer, Held &held)
{
    auto &list = held.ranges[computer];
    while (!text.empty()) {
        const std::size_t comma = std::min(text.find(','), text.size());
        const std::string_view range = text.substr(0, comma);
        const std::size_t dash = std::min(range.find('-'), range.size());
        std::int64_t first = 0, last = 0;
        if (!toNumber(range.substr(0, dash), first)
            || !toNumber(dash < range.size() ? range.substr(dash + 1) : range, last) || first < 1
            || last < first || (!list.empty() && first <= list.back().second + 1))
            return false;
        list.push_back({first, last});
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return !list.empty();
}

// Splits "<word> <rest>" off `line`; false when `line` has no space.
bool split(std::string_view line, std::string_view &word, std::string_view &rest)
{
    const std::size_t space = line.find(' ');
    if (space == line.npos)
        return false;
    word = line.substr(0, space);
    rest = line.substr(space + 1);
    return !word.empty() && !rest.empty();
}

// The latest entry of `log` that `touches`.
template<class Touches> const Entry *latest(const Log &log, Touches touches)
{
    const auto found = std::find_if(log.entries.rbegin(), log.entries.rend(), touches);
    return found == log.entries.rend() ? nullptr : &*found;
}

bool holdsAll(const Held &a, const Held &b)
{
    return a.root == b.root && b.minus(a).empty();
}

} // namespace

bool Held::contains(const BatchId &id) const
{
    const auto found = ranges.find(id.computer);
    return found != ranges.end()
        && std::any_of(found->second.begin(), found->second.end(),
            [&id](const auto &r) { return r.first <= id.seq && id.seq <= r.second; });
}

void Held::insert(const BatchId &id)
{
    Held one;
    one.ranges[id.computer] = {{id.seq, id.seq}};
    unite(one);
}

void Held::unite(const Held &other)
{
    for (const auto &[computer, theirs] : other.ranges) {
        auto &list = ranges[computer];
        list.insert(list.end(), theirs.begin(), theirs.end());
        std::sort(list.begin(), list.end());
        // Ranges that meet or overlap become one.
        std::vector<std::pair<std::int64_t, std::int64_t>> merged;
        for (const auto &range : list) {
            if (!merged.empty() && range.first <= merged.back().second + 1)
                merged.back().second = std::max(merged.back().second, range.second);
            else
                merged.push_back(range);
        }
        list = std::move(merged);
    }
}

std::vector<BatchId> Held::minus(const Held &other) const
{
    std::vector<BatchId> out;
    for (const auto &[computer, list] : ranges) {
        for (const auto &[first, last] : list) {
            for (std::int64_t seq = first; seq <= last; ++seq) {
                if (!other.contains({computer, seq}))
                    out.push_back({computer, seq});
            }
        }
    }
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
        line("entry " + std::to_string(entry.seq) + " " + hex(entry.before) + " "
            + hex(entry.after));
        line("root " + entry.held.root.computer + " " + std::to_string(entry.held.root.seq));
        for (const auto &[computer, ranges] : entry.held.ranges)
            line("held " + computer + " " + formatRanges(ranges));
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
    std::string_view line, word, rest, name;
    Log read;
    if (!reader.line(line) || line != kFirstLine)
        return Status::failure(0, "it is not a log Hostally wrote");
    if (!reader.line(line) || !split(line, word, rest) || word != "computer"
        || !split(rest, word, name) || !reader.number("next", read.next) || read.next < 1)
        return damaged;
    read.computer = std::string(word);
    read.name = std::string(name);
    while (reader.line(line)) {
        Entry *entry = read.entries.empty() ? nullptr : &read.entries.back();
        std::int64_t seq = 0;
        if (!split(line, word, rest)) {
            return damaged;
        } else if (word == "declined" && !entry) {
            read.declined.emplace_back(rest);
        } else if (word == "entry") {
            const std::int64_t previous = entry ? entry->seq : 0;
            Entry &added = read.entries.emplace_back();
            std::string_view number, hashes, before, after;
            if (!split(rest, number, hashes) || !toNumber(number, added.seq)
                || added.seq <= previous || added.seq >= read.next || !split(hashes, before, after)
                || !fromHex(before, added.before) || !fromHex(after, added.after))
                return damaged;
        } else if (!entry) {
            return damaged;
        } else if (word == "root") {
            if (!split(rest, word, rest) || !toNumber(rest, seq))
                return damaged;
            entry->held.root = {std::string(word), seq};
        } else if (word == "held") {
            if (!split(rest, word, rest) || !parseRanges(rest, std::string(word), entry->held))
                return damaged;
        } else if (word == "new") {
            entry->newFile = std::string(rest);
        } else if (word == "consumed") {
            entry->consumed.emplace_back(rest);
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

Reading readAt(const std::vector<Log> &logs, std::uint64_t hash, const std::string &me, int depth);

// `held` as the logs know it now: a root named by the bytes that saves
// started from while no log knew them holds what those bytes held, once a
// log tells, as it does when a sync program brings that log after data.txt.
Held resolved(const std::vector<Log> &logs, Held held, const std::string &me, int depth)
{
    std::uint64_t start = 0;
    if (depth > 0 && held.root.seq == 0 && held.root.computer.size() == 17
        && fromHex(held.root.computer.substr(1), start)) {
        Reading known = readAt(logs, start, me, depth - 1);
        if (known.kind == Reading::Kind::Known && known.held.root != held.root) {
            known.held.unite(held);
            return known.held;
        }
    }
    return held;
}

Reading readAt(const std::vector<Log> &logs, std::uint64_t hash, const std::string &me, int depth)
{
    std::vector<Held> candidates;
    int own = -1;
    for (const Log &log : logs) {
        const Entry *last = latest(
            log, [hash](const Entry &e) { return e.after == hash || e.before == hash; });
        // Replaced by a later save: the data.txt that save read went on from
        // it, and only a hand edit makes it again, or a sync program that
        // brings a later version last. Either way no log can tell what it holds.
        if (last && last->after != hash)
            return {};
        if (last) {
            own = log.computer == me ? int(candidates.size()) : own;
            candidates.push_back(resolved(logs, last->held, me, depth));
        }
    }
    if (candidates.empty()) {
        // Saves from these bytes, on any computer, hold the same counts to
        // begin with: they share a root named by the bytes. Unless this
        // computer was there before, which makes them a hand correction.
        Reading unknown;
        unknown.held.root = {"v" + hex(hash), 0};
        for (const Log &log : logs) {
            if (log.computer == me && latest(log, [&](const Entry &e) {
                    return e.held.root == unknown.held.root;
                }))
                return {};
        }
        return unknown;
    }
    Reading reading {Reading::Kind::Ambiguous, candidates[std::size_t(std::max(own, 0))], {}};
    reading.all.root = reading.held.root;
    for (const Held &held : candidates) {
        // Versions of two roots are no common history: as none a log knows.
        if (held.root != reading.held.root)
            return {};
        reading.all.unite(held);
    }
    // One of them holding all the others' batches wrote the same counts, as
    // an Add and a Remove since do: it is the version.
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if ((own < 0 || int(i) == own) && holdsAll(candidates[i], reading.all))
            return {Reading::Kind::Known, candidates[i], {}};
    }
    return reading;
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
    // holds read (by that save), but for saves that started a root of their own.
    std::vector<std::pair<std::uint64_t, BatchId>> read {{view, {}}};
    for (const Log &log : logs) {
        for (const Entry &entry : log.entries) {
            if (held.contains(entry.id(log.computer)) && entry.held.root == held.root)
                read.push_back({entry.before, entry.id(log.computer)});
        }
    }
    Held missing;
    missing.root = held.root;
    for (const Log &log : logs) {
        for (const Entry &entry : log.entries) {
            // A save that came after the one that read those bytes wrote them again.
            if (entry.held.root == held.root
                && std::any_of(read.begin(), read.end(), [&](const auto &r) {
                       return r.first == entry.after && !entry.held.contains(r.second);
                   }))
                missing.unite(entry.held);
        }
    }
    return missing.minus(held);
}

const Entry *findEntry(const std::vector<Log> &logs, const BatchId &id)
{
    for (const Log &log : logs) {
        if (log.computer != id.computer)
            continue;
        for (const Entry &entry : log.entries) {
            if (entry.seq == id.seq)
                return &entry;
        }
    }
    return nullptr;
}

Fate fateOf(
    const std::vector<Log> &logs, const std::string &me, const Entry &entry, std::uint64_t view)
{
    const BatchId id = entry.id(me);
    for (const Log &log : logs) {
        for (const Entry &other : log.entries) {
            if (other.id(log.computer) != id && other.held.contains(id))
                return Fate::Done;
        }
    }
    if (view == entry.after && readVersion(logs, view, me).kind == Reading::Kind::Known)
        return Fate::Done;
    return view == entry.before ? Fate::NotDone : Fate::Undecided;
}

} // namespace hostally
