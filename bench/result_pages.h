#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Pages for the extraction benchmarks: typical result pages of any size and
// hostile ones.
namespace bench {

// A device result page in the service's layout (CR LF line ends) with news
// and link filler before and after the result table, about `bytes` long in
// UTF-8.
QString typicalPage(qsizetype bytes);

enum class Hostile
{
    LabelsOnOneLine, // every label repeated on one line without a line break
    Unclosed,        // row after row in the right shape whose value markup never closes
    ParenCr,         // megabyte lines of "(" and CR with labels sprinkled in
};
QString hostilePage(Hostile kind, qsizetype bytes);
const char* hostileName(Hostile kind);

} // namespace bench
