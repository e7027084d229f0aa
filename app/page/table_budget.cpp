#include "table_budget.h"

#include "markup_output.h"

#include <algorithm>

namespace mizong::page::markup {

void TableBudget::opened(qsizetype element)
{
    Table table;
    table.element = element;
    table.weight = m_tables.isEmpty() ? 1 : std::min(m_tables.last().weight * 2, qint64(1) << 30);
    m_tables.append(std::move(table));
}

void TableBudget::popped(qsizetype openCount)
{
    if (!m_tables.isEmpty() && m_tables.last().element == openCount)
        m_tables.removeLast();
}

bool TableBudget::chargeTableCells(Role role, int colspan, int rowspan)
{
    if ((role != Role::Row && role != Role::Cell) || m_tables.isEmpty())
        return true;
    Table& t = m_tables.last();
    const auto charge = [this, &t](qint64 cells) {
        if (m_tableCells + t.weight * cells > m_maxCells)
            return false;
        m_tableCells += t.weight * cells;
        return true;
    };
    if (role == Role::Row) {
        if (!charge(t.columns))
            return false;
        ++t.rows;
        t.cursor = 0;
        for (int& rows : t.covered)
            rows = std::max(0, rows - 1);
        return true;
    }
    qsizetype first = t.cursor;
    while (first < t.covered.size() && t.covered[first] > 0)
        ++first;
    const qsizetype end = first + std::clamp(colspan, 1, kMaxColspan);
    if (!charge(t.rows * std::max<qint64>(0, end - t.columns)))
        return false;
    t.columns = std::max<qint64>(t.columns, end);
    if (t.covered.size() < end)
        t.covered.resize(end);
    for (qsizetype c = first; c < end; ++c)
        t.covered[c] = std::clamp(rowspan, 1, kMaxRowspan) - 1;
    t.cursor = end;
    return true;
}

} // namespace mizong::page::markup
