#include "batch.h"

#include "name_text.h"
#include "text_reader.h"

#include <algorithm>

namespace hostally {

namespace {

TallyTable Tallies::*const kLists[] = {&Tallies::leagues, &Tallies::events};
bool Resets::*const kResets[] = {&Resets::leagues, &Resets::events};

// The texts of a table's names, in its order: names are compared as the text
// they show, so a line saved by an editor in the other encoding still matches.
std::vector<std::u32string> nameTexts(const TallyTable &table)
{
    std::vector<std::u32string> texts;
    for (int i = 0; i < table.used(); ++i)
        texts.push_back(nameText(table.name(i)));
    return texts;
}

// Which of the lines showing `texts[line]` the line is, and how many there are.
std::pair<int, int> occurrence(const std::vector<std::u32string> &texts, std::size_t line)
{
    const auto begin = texts.begin();
    return {int(std::count(begin, begin + std::ptrdiff_t(line), texts[line])),
        int(std::count(texts.begin(), texts.end(), texts[line]))};
}

// The `nth` line of `texts` showing `text`, or -1.
int nthLine(const std::vector<std::u32string> &texts, const std::u32string &text, int nth)
{
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == text && nth-- == 0)
            return int(i);
    }
    return -1;
}

} // namespace

Batch diff(const Tallies &base, const Tallies &window, Resets resets)
{
    Batch batch {{}, resets};
    for (int l = 0; l < 2; ++l) {
        const TallyTable &from = base.*kLists[l], &to = window.*kLists[l];
        const bool reset = resets.*kResets[l];
        const std::vector<std::u32string> texts = nameTexts(from);
        for (int i = 0; i < from.used(); ++i) {
            if (!reset && from.count(i) == to.count(i))
                continue;
            const auto [nth, of] = occurrence(texts, std::size_t(i));
            batch.lines.push_back({l == 0, from.name(i), nth, of, from.count(i), to.count(i)});
        }
    }
    return batch;
}

Applied apply(const Batch &batch, const Tallies &view, RefusedReset refusedReset)
{
    Applied out {view, {}, batch.resets};
    for (int l = 0; l < 2; ++l) {
        TallyTable &table = out.tallies.*kLists[l];
        const bool league = l == 0, reset = batch.resets.*kResets[l];
        std::vector<const BatchLine *> lines;
        for (const BatchLine &line : batch.lines) {
            if (line.league == league)
                lines.push_back(&line);
        }
        const std::vector<std::u32string> texts = nameTexts(table);
        if (reset) {
            // Counts made or corrected elsewhere since the Reset's window read
            // the file would go without a word: refused, for the user to decide.
            bool unchanged = lines.size() == texts.size();
            for (std::size_t i = 0; unchanged && i < lines.size(); ++i)
                unchanged = texts[i] == nameText(lines[i]->name)
                    && table.count(int(i)) == lines[i]->before;
            if (!unchanged) {
                BatchLine list;
                list.league = league;
                out.refused.push_back({Refusal::Kind::ResetChanged, list});
                // What was counted after a Reset was counted from 0: on the
                // file's counts it means nothing.
                if (refusedReset == RefusedReset::ListKept) {
                    out.resets.*kResets[l] = false;
                    continue;
                }
            }
            table.reset();
        }
        for (const BatchLine *line : lines) {
            const std::int64_t change = line->after - (reset ? 0 : line->before);
            if (change == 0)
                continue;
            const std::u32string text = nameText(line->name);
            const auto inFile = std::count(texts.begin(), texts.end(), text);
            const auto refuse = [&](Refusal::Kind kind) { out.refused.push_back({kind, *line}); };
            // With a name there more or fewer times than the window read it,
            // the n-th of it in the file may be another line than it counted.
            if (inFile != line->of) {
                refuse(inFile == 0 ? Refusal::Kind::NotInFile : Refusal::Kind::RepeatedName);
                continue;
            }
            const int target = nthLine(texts, text, line->nth);
            // As Remove would have done it there: removals stop at 0, except
            // on a count already negative, which they lower further. Counts
            // stay within kCountLimit, so the sum cannot overflow.
            std::int64_t count = table.count(target) + change;
            if (change < 0 && table.count(target) >= 0)
                count = std::max<std::int64_t>(count, 0);
            if (count > kCountLimit || count < -kCountLimit) {
                refuse(Refusal::Kind::OutOfRange);
                continue;
            }
            table.setEntry(target, table.name(target), count);
        }
    }
    return out;
}

int sameLine(const TallyTable &from, int line, const TallyTable &to)
{
    const std::vector<std::u32string> texts = nameTexts(from);
    if (line < 0 || line >= from.used())
        return -1;
    return nthLine(
        nameTexts(to), texts[std::size_t(line)], occurrence(texts, std::size_t(line)).first);
}

std::vector<BatchLine> differingLines(const Tallies &from, const Tallies &to)
{
    std::vector<BatchLine> out;
    for (int l = 0; l < 2; ++l) {
        const TallyTable &a = from.*kLists[l], &b = to.*kLists[l];
        for (int j = 0; j < b.used(); ++j) {
            const int i = sameLine(b, j, a);
            const std::int64_t before = i < 0 ? 0 : a.count(i);
            if (before != b.count(j))
                out.push_back({l == 0, b.name(j), 0, 1, before, b.count(j)});
        }
        for (int i = 0; i < a.used(); ++i) {
            if (a.count(i) != 0 && sameLine(a, i, b) < 0)
                out.push_back({l == 0, a.name(i), 0, 1, a.count(i), 0});
        }
    }
    return out;
}

void formatBatch(const Batch &batch, std::string &out)
{
    for (int l = 0; l < 2; ++l) {
        if (batch.resets.*kResets[l])
            out.append(l == 0 ? "reset leagues" : "reset events").append(kLineEnd);
    }
    for (const BatchLine &line : batch.lines) {
        out.append(line.league ? "line L " : "line E ");
        for (const std::int64_t n :
            {std::int64_t(line.nth), std::int64_t(line.of), line.before, line.after})
            out.append(std::to_string(n)).append(" ");
        out.append(line.name).append(kLineEnd);
    }
}

bool parseBatchLine(std::string_view text, Batch &batch)
{
    if (text == "reset leagues" || text == "reset events") {
        (text == "reset leagues" ? batch.resets.leagues : batch.resets.events) = true;
        return true;
    }
    if (text.substr(0, 7) != "line L " && text.substr(0, 7) != "line E ")
        return false;
    BatchLine line;
    line.league = text[5] == 'L';
    text.remove_prefix(7);
    std::int64_t numbers[4] = {};
    for (std::int64_t &n : numbers) {
        const std::size_t space = text.find(' ');
        if (space == text.npos || !toNumber(text.substr(0, space), n))
            return false;
        text.remove_prefix(space + 1);
    }
    // A name never holds a quote or a line end: the data file cannot carry it.
    if (numbers[0] < 0 || numbers[1] <= numbers[0] || numbers[1] > kEventCapacity
        || text.find_first_of("\"\r\n") != text.npos)
        return false;
    line.nth = int(numbers[0]);
    line.of = int(numbers[1]);
    line.before = numbers[2];
    line.after = numbers[3];
    line.name = std::string(text);
    batch.lines.push_back(std::move(line));
    return true;
}

} // namespace hostally
