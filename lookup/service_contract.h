#pragma once

#include <QString>
#include <QStringView>

// What the program relies on from the outside lookup service and from its own
// web site: request addresses, the page charset and the service's refusal
// phrases. The bases (scheme and host, no trailing slash) are build settings
// and are passed in by the caller.
namespace mizong::service {

inline constexpr QStringView kDeviceResultPath = u"/result/?postsn=";
inline constexpr QStringView kSimPagePath = u"/iccid/?s=";
inline constexpr QStringView kPageCharset = u"UTF-8";

inline constexpr QStringView kReplacedProductPhrase = u"这是已更换产品的序列号";
inline constexpr QStringView kInvalidSerialPhrase = u"此序列号无效";
inline constexpr QStringView kInvalidIccidPhrase = u"你输入的不是一个有效的ICCID码";

// The identifier goes out as one percent-encoded query value (UTF-8), so the
// service receives exactly what was typed: '+', '#', '&', '%', blanks and
// Chinese characters included.
QString deviceResultUrl(QStringView serviceBase, QStringView identifier);
QString simPageUrl(QStringView serviceBase, QStringView iccid);

} // namespace mizong::service

namespace mizong::site {

inline constexpr QStringView kAnnouncementPath = u"/gonggao.html";
inline constexpr QStringView kShopPath = u"/taobao.php";
inline constexpr QStringView kHelpNotReactivatedPath = u"/201302/287.html";
inline constexpr QStringView kHelpReactivatedPath = u"/201302/285.html";

} // namespace mizong::site
