#pragma once

#include "page_fetch.h"

namespace mizong::testing {

using mizong::PageResult;

// Runs a local event loop until the fetch has finished.
PageResult fetchPageBlocking(const QString& url, QStringView charset, FetchLimits limits = {});

} // namespace mizong::testing
