#include "tally_table.h"

#include "name_text.h"

#include <algorithm>
#include <cassert>

namespace hostally {

constexpr std::size_t kNameColumn = 13;

void TallyTable::setEntry(int i, std::string name, std::int64_t count)
{
    if (i < 0 || i >= capacity())
        return;
    // Slots skipped over hold empty entries with count 0, so the total stays
    // the sum of the used slots whatever order the loader fills them in.
    if (i < m_used)
        m_total -= m_slots[i].count;
    else
        m_used = i + 1;
    m_slots[i].name = std::move(name);
    m_slots[i].count = count;
    m_total += count;
}

bool TallyTable::add(int i)
{
    if (!isUsed(i) || m_slots[i].count >= kCountLimit)
        return false;
    ++m_slots[i].count;
    ++m_total;
    return true;
}

bool TallyTable::remove(int i)
{
    // Zero is the floor for the user's own steps; a negative count can only
    // come from a hand-edited file and is lowered further, as users expect of
    // a plain counter.
    if (!isUsed(i) || m_slots[i].count == 0 || m_slots[i].count <= -kCountLimit)
        return false;
    --m_slots[i].count;
    --m_total;
    return true;
}

void TallyTable::reset()
{
    for (int i = 0; i < m_used; ++i)
        m_slots[i].count = 0;
    m_total = 0;
}

std::string TallyTable::entryLine(int i) const
{
    // The column is counted in characters shown, so a UTF-8 name lines up its
    // "-" with a Windows-1252 one of the same length.
    const std::size_t length = nameLength(name(i));
    return name(i) + std::string(length < kNameColumn ? kNameColumn - length : 0, ' ') + '-'
        + numberText(count(i));
}

const TallyEntry &TallyTable::entry(int i) const
{
    assert(isUsed(i));
    return m_slots.at(static_cast<std::size_t>(i));
}

bool operator==(const TallyTable &a, const TallyTable &b)
{
    return a.capacity() == b.capacity() && a.m_used == b.m_used && a.m_total == b.m_total
        && std::equal(a.m_slots.begin(), a.m_slots.begin() + a.m_used, b.m_slots.begin());
}

std::string numberText(std::int64_t value)
{
    // Work on the magnitude as unsigned so even the most negative value has
    // digits to print.
    const auto magnitude = static_cast<std::uint64_t>(value);
    return value < 0 ? "-" + std::to_string(0 - magnitude) : " " + std::to_string(magnitude);
}

} // namespace hostally
