#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Pages and field patterns for the extraction benchmarks. The patterns are
// assembled here from their pieces, independently of the lookup code.
namespace bench {

struct FieldPattern
{
    QString pattern;
    int group;
    bool stripCellMarkup;
};

std::array<FieldPattern, 10> deviceFields();
std::array<FieldPattern, 4> simFields(); // home area: the area-code variant

// The cell markup that fields 6 to 10 strip from their values.
QString cellMarkup();

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
