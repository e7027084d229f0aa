#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace mizong::sample {

enum class Kind
{
    Device,
    Sim
};

// One identifier the service knows, the page it answers with (a resource
// under :/pages/) and what a lookup of it shows.
struct Sample
{
    Kind kind;
    QStringView id;
    QStringView page;
    QStringView shows;
};

// The one table behind the lookup answers, the announcement page and
// /samples.json.
const QList<Sample>& samples();

// The page for an identifier of the given kind; anything unknown gets the
// page of another layout.
QString pageFor(Kind kind, QStringView id);

QStringView kindName(Kind kind);

} // namespace mizong::sample
