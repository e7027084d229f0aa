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

bool TableBudget::chargeTableCells(const ElementRule* rule, const Token* token)
{
    if ((rule->role != Role::Row && rule->role != Role::Cell) || m_tables.isEmpty())
        return true;
    Table& t = m_tables.last();
    const auto charge = [this, &t](qint64 cells) {
        if (m_tableCells + t.weight * cells > m_maxCells)
            return false;
        m_tableCells += t.weight * cells;
        return true;
    };
    if (rule->role == Role::Row) {
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
    const qsizetype end = first + span(token, u"colspan", kMaxColspan);
    if (!charge(t.rows * std::max<qint64>(0, end - t.columns)))
        return false;
    t.columns = std::max<qint64>(t.columns, end);
    if (t.covered.size() < end)
        t.covered.resize(end);
    const int rowspan = span(token, u"rowspan", kMaxRowspan);
    for (qsizetype c = first; c < end; ++c)
        t.covered[c] = rowspan - 1;
    t.cursor = end;
    return true;
}

int TableBudget::span(const Token* token, QStringView name, int high)
{
    return token ? boundedInteger(decodeAttribute(token->attribute(name)), 1, high).value_or(1) : 1;
}

} // namespace mizong::page::markup
