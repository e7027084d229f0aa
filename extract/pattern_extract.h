#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <initializer_list>
#include <optional>

// Cutting field values out of a result page with a regular expression: only
// the first match counts, matching is case-sensitive, '.' never matches a line
// feed, and group k is the k-th parenthesised group counted from 0 by the
// position of its opening parenthesis.
namespace mizong {

// The texts of the wanted groups of the first match, or no value when the
// pattern does not match. Patterns made of literal pieces joined by lazy
// groups "(.*?)" (the family the lookups use) run on a linear-time matcher;
// any other pattern runs on QRegularExpression, which defines the semantics.
std::optional<QStringList> extractGroups(QStringView page, const QString& pattern,
                                         const QList<int>& groups);
std::optional<QString> extractGroup(QStringView page, const QString& pattern, int group);

// The reference: the same step done by QRegularExpression.
std::optional<QStringList> extractGroupsRegex(QStringView page, const QString& pattern,
                                              const QList<int>& groups);

// Line breaks inside patterns: a pattern moves on to the page's next line.
inline constexpr QStringView kCrLf = u"\r\n";

// A pattern assembled from its pieces, joined with nothing between them.
QString joinPieces(std::initializer_list<QStringView> pieces);

// Removes blanks (U+0020) at both ends; tabs, line breaks and U+3000 stay.
QString trimBlanks(QStringView text);

// Removes every occurrence of `piece` (exact, case-sensitive, left to right).
QString removeAll(QStringView text, QStringView piece);

// Removes every U+0020 wherever it stands.
QString removeBlanks(QStringView text);

} // namespace mizong
