#include "merge.h"

#include "name_text.h"

#include <algorithm>

namespace hostally {

namespace {

// The texts of a table's names, in its order: names are compared as the text
// they show, so a line saved by an editor in the other encoding still matches.
std::vector<std::u32string> nameTexts(const TallyTable &table)
{
    std::vector<std::u32string> texts;
    texts.reserve(static_cast<std::size_t>(table.used()));
    for (int i = 0; i < table.used(); ++i)
        texts.push_back(nameText(table.name(i)));
    return texts;
}

// The index of the occurrence-th line of `texts` showing `text`, or -1.
int nthLine(const std::vector<std::u32string> &texts, const std::u32string &text, int occurrence)
{
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == text && occurrence-- == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// Whether two tables hold the same lines: names showing the same text, and
// the same counts, in the same order.
bool sameLines(const TallyTable &a, const TallyTable &b)
{
    if (a.used() != b.used())
        return false;
    for (int i = 0; i < a.used(); ++i) {
        if (a.count(i) != b.count(i) || nameText(a.name(i)) != nameText(b.name(i)))
            return false;
    }
    return true;
}

// Every count of `table` set to 0, its names and order kept.
TallyTable zeroed(TallyTable table)
{
    table.reset();
    return table;
}

// `count` lowered or raised by `change` as the window's Add and Remove would
// have done it there: removals stop at 0, except on a count that is already
// negative, which they lower further.
std::int64_t stepped(std::int64_t count, std::int64_t change)
{
    // Counts stay within kCountLimit, so the sum cannot overflow.
    if (change < 0 && count >= 0)
        return std::max<std::int64_t>(count + change, 0);
    return count + change;
}

// Adds each change of one of the window's tables to `merged`, a copy of the
// file's table, and appends a refusal for each change that cannot go in.
void mergeTable(bool league, const TallyTable &base, const TallyTable &window, TallyTable &merged,
    std::vector<MergeRefusal> &refusals)
{
    const std::vector<std::u32string> baseTexts = nameTexts(base);
    const std::vector<std::u32string> fileTexts = nameTexts(merged);
    for (int i = 0; i < window.used(); ++i) {
        const std::int64_t change = window.count(i) - base.count(i);
        if (change == 0)
            continue;
        const std::u32string &text = baseTexts[static_cast<std::size_t>(i)];
        const auto inBase = std::count(baseTexts.begin(), baseTexts.end(), text);
        const auto inFile = std::count(fileTexts.begin(), fileTexts.end(), text);
        const auto refuse = [&](MergeRefusal::Kind kind) {
            refusals.push_back({kind, league, i, base.name(i)});
        };
        // With a name there more or fewer times than the window read it, the
        // i-th of it in the file may be another line than the window counted.
        if (inFile == 0) {
            refuse(MergeRefusal::Kind::NotInFile);
            continue;
        }
        if (inFile != inBase) {
            refuse(MergeRefusal::Kind::RepeatedName);
            continue;
        }
        const int occurrence
            = static_cast<int>(std::count(baseTexts.begin(), baseTexts.begin() + i, text));
        const int target = nthLine(fileTexts, text, occurrence);
        const std::int64_t count = stepped(merged.count(target), change);
        if (count > kCountLimit || count < -kCountLimit) {
            refuse(MergeRefusal::Kind::OutOfRange);
            continue;
        }
        merged.setEntry(target, merged.name(target), count);
    }
}

// Merges one list; a reset list starts from zeros on both sides, so what the
// window counted since the Reset is added to a list of zeros.
void mergeList(bool league, bool reset, const TallyTable &base, const TallyTable &window,
    TallyTable &merged, std::vector<MergeRefusal> &refusals)
{
    if (!reset) {
        mergeTable(league, base, window, merged, refusals);
        return;
    }
    // Counts made or corrected elsewhere since the window read the file would
    // be lost without a word: ask first.
    if (!sameLines(base, merged))
        refusals.push_back({MergeRefusal::Kind::ResetChanged, league, -1, {}});
    merged = zeroed(merged);
    mergeTable(league, zeroed(base), window, merged, refusals);
}

} // namespace

int sameLine(const TallyTable &from, int line, const TallyTable &to)
{
    const std::vector<std::u32string> fromTexts = nameTexts(from);
    const std::u32string &text = fromTexts[static_cast<std::size_t>(line)];
    const int occurrence
        = static_cast<int>(std::count(fromTexts.begin(), fromTexts.begin() + line, text));
    return nthLine(nameTexts(to), text, occurrence);
}

MergeResult mergeTallies(
    const Tallies &base, const Tallies &window, const Tallies &file, Resets resets)
{
    MergeResult result;
    result.merged = file;
    mergeList(
        true, resets.leagues, base.leagues, window.leagues, result.merged.leagues, result.refusals);
    mergeList(
        false, resets.events, base.events, window.events, result.merged.events, result.refusals);
    return result;
}

} // namespace hostally
