#pragma once

#include "lookup_common.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

class QLocale;

// The device lookup and its re-activation verdict, as functions from text to
// values; the window only binds them to its controls.
namespace mizong::device {

// The ten facts of a result page, in the order the window clears and fills
// their boxes.
enum class Field
{
    FirstActivation,
    LatestActivation,
    Carrier, // of the card that activated the phone
    Model,
    SerialNumber,
    ManufactureDate,
    IosVersion,
    PurchaseDate,
    WarrantyExpiry,
    RemainingWarranty
};
inline constexpr std::size_t kFieldCount = 10;
using Slots = FieldSlots<kFieldCount>;

inline constexpr std::size_t slot(Field field)
{
    return static_cast<std::size_t>(field);
}

inline constexpr QStringView kLengthMessage = u"请输入15位的IMEI或12位的序列号！";
inline constexpr QStringView kReplacedProductMessage =
    u"很抱歉，这是已更换产品的序列号，建议去官网继续查询！";
inline constexpr QStringView kInvalidSerialMessage = u"此序列号无效，建议去官网继续查询！";

// The typed text without invisible characters (withoutInvisibles) and with
// blanks trimmed at both ends, when its length is 15 (an IMEI) or 12 (a
// serial number) UTF-16 units; otherwise no value.
std::optional<QString> identifierFrom(QStringView input);

QString requestUrl(QStringView serviceBase, QStringView identifier);

// The service's refusal of the identifier, by its phrases anywhere on the
// page; the replaced-product phrase wins over the invalid one.
enum class Screening
{
    Clean,
    ReplacedProduct,
    InvalidSerial
};

// How one field is cut out of the result page: the pattern, the group whose
// text is the value, and whether the value cell's opening markup is removed
// from that text.
struct FieldRule
{
    Field field;
    QString pattern;
    int group;
    bool stripCellMarkup;
};
// The ten rules, in the order they are applied.
const QList<FieldRule>& fieldRules();
// What a rule's matched text becomes in its box.
QString finishValue(const FieldRule& rule, QStringView matched);

// The ten fields, indexed by slot().
Slots extractFields(QStringView page);

// Re-activation verdict
enum class Verdict
{
    None,
    NotReactivated,
    Reactivated
};

inline constexpr QStringView kNotReactivatedCaption = u"手机还未刷机，请耐心等待!";
inline constexpr QStringView kReactivatedCaption = u"手机已经被刷机！请及时复查刷机信息！";
inline constexpr QStringView kNotReactivatedLink = u"如何催促对方刷机？点击查看！";
inline constexpr QStringView kReactivatedLink = u"如何判断小偷已经刷机？点击查看！";

// The calendar day of an activation time as the locale's regional settings
// write full dates, and the year-first forms (YYYY-MM-DD, YYYY/M/D, YYYY.M.D,
// YYYY年M月D日) always, optionally with the date's own weekday and a time of
// day; no value for a text that is not a full date.
std::optional<QDate> activationDay(QStringView text, const QLocale& locale);

// From the first and latest activation slots: no verdict when either is
// missing, empty or not a date; otherwise same calendar day or not.
Verdict decideVerdict(const std::optional<QString>& first, const std::optional<QString>& latest,
                      const QLocale& locale);

struct VerdictCaptions
{
    QString verdict;         // the verdict's line
    QString link;            // the caption of the help link under it
    bool linkCursor = false; // the link shows the hand cursor
};
VerdictCaptions captionsFor(Verdict verdict);

// All that a result page tells the window, in the order it acts on it.
struct Reading
{
    Screening screening = Screening::Clean;
    Slots values; // none on a refused page
    Verdict verdict = Verdict::None;

    bool refused() const { return screening != Screening::Clean; }
    // The message for a refused page; empty otherwise.
    QString refusal() const;
    VerdictCaptions captions() const { return captionsFor(verdict); }
};
// Screens the page, then cuts the ten fields out of a page that was not
// refused and decides the verdict on the two activation times, whose dates
// are read under `locale`.
Reading readPage(QStringView page, const QLocale& locale);

// The home-site page behind a help link's caption; no value for any other
// caption, the empty one included.
std::optional<QStringView> helpPathForLink(QStringView caption);

} // namespace mizong::device
