#pragma once

#include "html_elements.h"

#include <QList>

// Internal to mizong_page_markup: page_markup.h is the interface.
// The page's tables as Qt will lay them out, counted as they are built: Qt's
// table layout takes time in proportion to a table's grid (rows times
// columns, the gaps that row and column spans leave included), and about
// doubles it with every level of nesting, so a row or cell past the budget
// is not shown.
namespace mizong::page::markup {

class TableBudget
{
public:
    explicit TableBudget(int maxCells) : m_maxCells(maxCells) {}

    // A shown table opened at `element` in the open elements.
    void opened(qsizetype element);
    // The open elements now number `openCount`: the innermost table closes
    // when it was the element popped.
    void popped(qsizetype openCount);

    // Whether a shown table is open: what is written goes in a cell.
    bool inTable() const { return !m_tables.isEmpty(); }

    // Charges a row or cell (with its spans) to the table budget, as Qt will
    // grow its grid; false: over budget.
    bool chargeTableCells(Role role, int colspan = 1, int rowspan = 1);

private:
    // A shown table's grid as Qt will lay it out.
    struct Table
    {
        qsizetype element = 0; // in the open elements
        qint64 weight = 1;     // 2^(nesting - 1)
        qint64 rows = 0;
        qint64 columns = 0;
        qsizetype cursor = 0; // the next column of the current row
        QList<int> covered;   // per column: further rows a cell above spans
    };

    int m_maxCells;
    QList<Table> m_tables;
    qint64 m_tableCells = 0;
};

} // namespace mizong::page::markup
