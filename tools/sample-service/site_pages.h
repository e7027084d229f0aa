#pragma once

#include <QByteArray>
#include <QStringView>

#include <optional>

namespace mizong::sample {

struct SitePage
{
    QByteArray body;
    QByteArray mimeType;
};

// The pages of the program's own web site that the window opens, and
// /samples.json; no value for any other path.
std::optional<SitePage> sitePage(QStringView path);

// The answer to a path that neither site has.
SitePage notFoundPage();

} // namespace mizong::sample
