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

// The line of `toTexts` that is line `line` of `fromTexts`: the i-th line
// showing its text is the i-th line showing that text, or -1 when none.
int matchingLine(const std::vector<std::u32string> &fromTexts, int line,
    const std::vector<std::u32string> &toTexts)
{
    const std::u32string &text = fromTexts[static_cast<std::size_t>(line)];
    auto occurrence = std::count(fromTexts.begin(), fromTexts.begin() + line, text);
    for (std::size_t i = 0; i < toTexts.size(); ++i) {
        if (toTexts[i] == text && occurrence-- == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// Adds each change of one of the window's lists to `merged`, a copy of the
// file's list, and appends a refusal for each change that cannot go in. A
// reset list starts from zeros on both sides, so what the window counted
// since the Reset is added to a list of zeros.
void mergeList(bool league, bool reset, const TallyTable &base, const TallyTable &window,
    TallyTable &merged, std::vector<MergeRefusal> &refusals)
{
    const std::vector<std::u32string> baseTexts = nameTexts(base);
    const std::vector<std::u32string> fileTexts = nameTexts(merged);
    if (reset) {
        // Counts made or corrected elsewhere since the window read the file
        // would be lost without a word: ask first.
        bool unchanged = baseTexts == fileTexts;
        for (int i = 0; unchanged && i < base.used(); ++i)
            unchanged = base.count(i) == merged.count(i);
        if (!unchanged)
            refusals.push_back({MergeRefusal::Kind::ResetChanged, league, -1, {}});
        merged.reset();
    }
    for (int i = 0; i < window.used(); ++i) {
        const std::int64_t change = window.count(i) - (reset ? 0 : base.count(i));
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
        if (inFile != inBase) {
            refuse(inFile == 0 ? MergeRefusal::Kind::NotInFile : MergeRefusal::Kind::RepeatedName);
            continue;
        }
        const int target = matchingLine(baseTexts, i, fileTexts);
        // As the window's Remove would have done it there: removals stop at 0,
        // except on a count that is already negative, which they lower
        // further. Counts stay within kCountLimit, so the sum cannot overflow.
        std::int64_t count = merged.count(target) + change;
        if (change < 0 && merged.count(target) >= 0)
            count = std::max<std::int64_t>(count, 0);
        if (count > kCountLimit || count < -kCountLimit) {
            refuse(MergeRefusal::Kind::OutOfRange);
            continue;
        }
        merged.setEntry(target, merged.name(target), count);
    }
}

} // namespace

int sameLine(const TallyTable &from, int line, const TallyTable &to)
{
    return matchingLine(nameTexts(from), line, nameTexts(to));
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
