#include "recovery.h"

#include "data_format.h"
#include "text_reader.h"

#include <utility>

namespace hostally {

namespace {

// The first line of every recovery file: says what the file is to anyone who
// opens it, and tells the forms apart.
constexpr std::string_view kFirstLine = "Hostally unsaved counts, form 2";
constexpr std::string_view kOlderForm = "Hostally unsaved counts, form 1";

bool sameNames(const TallyTable &a, const TallyTable &b)
{
    bool same = a.used() == b.used();
    for (int i = 0; same && i < a.used(); ++i)
        same = a.name(i) == b.name(i);
    return same;
}

// The older form: its fields, then the data file the window read and the
// window's tables, each preceded by its size.
Status parseOlderForm(Reader &reader, Recovery &recovery)
{
    const Status damaged = Status::failure(0, "it is incomplete or damaged");
    Recovery read;
    std::int64_t changes = 0, resetLeagues = 0, resetEvents = 0;
    std::string line;
    std::string_view base, window;
    if (!reader.number("written", read.writtenMs)
        || (reader.optional("computer", read.computer) && read.computer.empty())
        || !reader.number("changes", changes) || !reader.number("reset leagues", resetLeagues)
        || resetLeagues < 0 || resetLeagues > 1 || !reader.number("reset events", resetEvents)
        || resetEvents < 0 || resetEvents > 1
        || (reader.optional("saving", read.saving) && read.saving.empty()))
        return damaged;
    while (reader.optional("includes", line)) {
        const std::size_t space = line.find(' ');
        std::int64_t writtenMs = 0;
        if (space == line.npos || space + 1 == line.size()
            || !toNumber(std::string_view(line).substr(0, space), writtenMs))
            return damaged;
        read.includes.emplace_back(line.substr(space + 1), writtenMs);
    }
    if (!reader.block("base", base) || !reader.block("window", window) || !reader.atEnd())
        return damaged;
    Tallies baseTables, windowTables;
    if (!parseDataFile(base, baseTables.leagues, baseTables.events).ok
        || !parseDataFile(window, windowTables.leagues, windowTables.events).ok
        || !sameNames(baseTables.leagues, windowTables.leagues)
        || !sameNames(baseTables.events, windowTables.events))
        return Status::failure(0, "the counts in it are damaged");
    read.batch = diff(baseTables, windowTables, {resetLeagues == 1, resetEvents == 1});
    // Ids came with this form: its time stands for one.
    read.id = "form1-" + std::to_string(read.writtenMs);
    recovery = std::move(read);
    return Status::success();
}

} // namespace

std::string formatRecovery(const Recovery &recovery)
{
    std::string out;
    out.append(kFirstLine).append(kLineEnd);
    out.append("id " + recovery.id).append(kLineEnd);
    out.append("written " + std::to_string(recovery.writtenMs)).append(kLineEnd);
    for (const std::string &id : recovery.consumes)
        out.append("consumes " + id).append(kLineEnd);
    formatBatch(recovery.batch, out);
    return out;
}

Status parseRecovery(std::string_view text, Recovery &recovery)
{
    Reader reader(text);
    std::string_view first;
    if (!reader.line(first) || (first != kFirstLine && first != kOlderForm))
        return Status::failure(0, "it is not a file of unsaved counts Hostally wrote");
    if (first == kOlderForm)
        return parseOlderForm(reader, recovery);
    Recovery read;
    std::string id;
    std::string_view line;
    if (!reader.optional("id", read.id) || read.id.empty()
        || !reader.number("written", read.writtenMs))
        return Status::failure(0, "it is incomplete or damaged");
    while (reader.optional("consumes", id))
        read.consumes.push_back(std::move(id));
    while (reader.line(line)) {
        if (!parseBatchLine(line, read.batch))
            return Status::failure(0, "it is incomplete or damaged");
    }
    if (!reader.atEnd())
        return Status::failure(0, "it is incomplete or damaged");
    recovery = std::move(read);
    return Status::success();
}

int changeCount(const Batch &batch)
{
    int changes = int(batch.resets.leagues) + int(batch.resets.events);
    for (const BatchLine &line : batch.lines)
        changes += line.before != line.after;
    return changes;
}

} // namespace hostally
