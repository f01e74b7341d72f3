#include "merge.h"

namespace hostally {

namespace {

// Adds each change of one of the window's tables to `merged`, a copy of the
// file's table. Returns the refusal for the first change that cannot go in.
MergeResult::Refusal mergeTable(
    const TallyTable &base, const TallyTable &window, TallyTable &merged, int &refusedLine)
{
    for (int i = 0; i < window.used(); ++i) {
        // Counts stay within kCountLimit, so neither this difference nor the
        // sum below can overflow.
        const std::int64_t change = window.count(i) - base.count(i);
        if (change == 0)
            continue;
        refusedLine = i;
        const int target = sameLine(base, i, merged);
        if (target < 0)
            return MergeResult::Refusal::NotInFile;
        const std::int64_t count = merged.count(target) + change;
        if (count > kCountLimit || count < -kCountLimit)
            return MergeResult::Refusal::OutOfRange;
        merged.setEntry(target, merged.name(target), count);
    }
    return MergeResult::Refusal::None;
}

} // namespace

int sameLine(const TallyTable &from, int line, const TallyTable &to)
{
    const std::string &name = from.name(line);
    int occurrence = 0;
    for (int i = 0; i < line; ++i)
        occurrence += from.name(i) == name;
    for (int i = 0; i < to.used(); ++i) {
        if (to.name(i) == name && occurrence-- == 0)
            return i;
    }
    return -1;
}

MergeResult mergeTallies(const Tallies &base, const Tallies &window, const Tallies &file)
{
    MergeResult result;
    result.merged = file;
    result.league = true;
    result.refusal = mergeTable(base.leagues, window.leagues, result.merged.leagues, result.line);
    if (result.ok()) {
        result.league = false;
        result.refusal = mergeTable(base.events, window.events, result.merged.events, result.line);
    }
    if (result.ok()) {
        result.line = -1;
        return result;
    }
    const TallyTable &refused = result.league ? base.leagues : base.events;
    result.name = refused.name(result.line);
    result.merged = Tallies();
    return result;
}

} // namespace hostally
