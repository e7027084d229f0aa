#pragma once

#include "page_fetch.h"

namespace mizong::testing {

struct PageResult
{
    FetchOutcome outcome;
    QString page;
};

// Runs a local event loop until the fetch has finished.
PageResult fetchPageBlocking(const QString& url, QStringView charset, FetchLimits limits = {});

} // namespace mizong::testing
