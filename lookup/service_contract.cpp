#include "service_contract.h"

#include <QUrl>

namespace mizong::service {

namespace {

// The value is encoded as a whole in UTF-8, everything but the unreserved
// characters escaped: '+' becomes %2B (a form decoder would read a raw '+' as
// a blank), '&', '=' and '#' cannot split the query or cut it short, and a
// typed '%' cannot start an escape of its own.
QString withQueryValue(QStringView serviceBase, QStringView path, QStringView value)
{
    QString url = serviceBase.toString();
    url += path;
    url += QString::fromLatin1(QUrl::toPercentEncoding(value.toString()));
    return url;
}

} // namespace

QString deviceResultUrl(QStringView serviceBase, QStringView identifier)
{
    return withQueryValue(serviceBase, kDeviceResultPath, identifier);
}

QString simPageUrl(QStringView serviceBase, QStringView iccid)
{
    return withQueryValue(serviceBase, kSimPagePath, iccid);
}

} // namespace mizong::service
