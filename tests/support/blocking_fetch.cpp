#include "blocking_fetch.h"

#include <QEventLoop>

#include <memory>

namespace mizong::testing {

PageResult fetchPageBlocking(const QString& url, QStringView charset, FetchLimits limits)
{
    const std::unique_ptr<PageFetch> fetch(FetchPage(url, charset, nullptr, std::move(limits)));
    QEventLoop loop;
    // finished() always comes from the event loop, so it cannot be missed here.
    QObject::connect(fetch.get(), &PageFetch::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return {fetch->outcome(), fetch->page()};
}

} // namespace mizong::testing
