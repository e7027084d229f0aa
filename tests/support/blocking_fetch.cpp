#include "blocking_fetch.h"

#include <QEventLoop>

#include <memory>

namespace mizong::testing {

PageResult fetchPageBlocking(const QString& url, QStringView charset, FetchLimits limits)
{
    const std::unique_ptr<PageFetch> fetch(FetchPage(url, charset, nullptr, std::move(limits)));
    QEventLoop loop;
    PageResult result;
    // finished() always comes from the event loop, so it cannot be missed here.
    QObject::connect(fetch.get(), &PageFetch::finished, &loop, [&](const PageResult& given) {
        result = given;
        loop.quit();
    });
    loop.exec();
    return result;
}

} // namespace mizong::testing
