#include "samples.h"

namespace mizong::sample {

namespace {

constexpr QStringView kUnknownPage = u"other-layout.html";

} // namespace

const QList<Sample>& samples()
{
    static const QList<Sample> table = {
        {Kind::Device, u"358805052512340", u"device-not-reactivated.html",
         u"十项齐全，首次与最近激活时间相同：手机还未刷机"},
        {Kind::Device, u"013429008765436", u"device-reactivated.html",
         u"十项齐全，最近激活比首次激活晚了三个多月：手机已经被刷机"},
        {Kind::Device, u"358820050011229", u"device-same-day.html",
         u"同一天里激活了两次（时间不同）：仍判定为还未刷机"},
        {Kind::Device, u"F2LKQ0XYDTWF", u"device-partial.html",
         u"尚未激活的设备，只有部分字段，其余显示“无相关信息”，没有刷机判定"},
        {Kind::Device, u"013977001357916", u"device-lf-only.html",
         u"页面只用LF换行：只读得出最近激活时间、型号和序列号，没有刷机判定"},
        {Kind::Device, u"F17JX0QPDTC0", u"device-replaced.html", u"提示这是已更换产品的序列号"},
        {Kind::Device, u"DX3K9ABCDEFG", u"device-invalid.html", u"提示此序列号无效"},
        {Kind::Device, u"990000862471853", kUnknownPage,
         u"服务不认识的号码：其他版式的页面，什么都读不出，8秒后提示服务器维护中"},
        {Kind::Sim, u"89860114831001234567", u"sim-plain.html",
         u"四项齐全，归属地为一行（去掉空格显示）"},
        {Kind::Sim, u"89860078601234567890", u"sim-area-code.html",
         u"四项齐全，归属地(区号)分两行，合成一行显示"},
        {Kind::Sim, u"89860313005556667778", u"sim-phone-only.html",
         u"只有手机号一行，其余显示“无相关信息”"},
        {Kind::Sim, u"8986001234", u"sim-invalid.html", u"提示不是一个有效的ICCID码"},
        {Kind::Sim, u"89860000000000000000", kUnknownPage,
         u"服务不认识的ICCID：其他版式的页面，8秒后提示服务器维护中"},
    };
    return table;
}

QString pageFor(Kind kind, QStringView id)
{
    for (const Sample& sample : samples()) {
        if (sample.kind == kind && sample.id == id)
            return sample.page.toString();
    }
    return kUnknownPage.toString();
}

QStringView kindName(Kind kind)
{
    return kind == Kind::Device ? u"device" : u"sim";
}

} // namespace mizong::sample
