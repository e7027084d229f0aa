#include "site_pages.h"

#include "samples.h"
#include "service_contract.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace mizong::sample {

using namespace Qt::StringLiterals;

namespace {

const QByteArray kHtml = QByteArrayLiteral("text/html; charset=utf-8");

// Lines joined with CR LF, like the service's own pages.
SitePage htmlPage(QStringView title, const QStringList& bodyLines)
{
    QStringList lines = {
        u"<!DOCTYPE html>"_s,
        u"<html lang=\"zh-CN\">"_s,
        u"<head>"_s,
        u"<meta charset=\"utf-8\">"_s,
        u"<title>"_s + title.toString() + u"</title>"_s,
        u"<style>"_s,
        u"body { font: 12px \"WenQuanYi Micro Hei\", \"Microsoft YaHei\", sans-serif; margin: 6px; }"_s,
        u"h1 { font-size: 14px; color: #1f4e8c; margin: 0 0 4px; }"_s,
        u"table { border-collapse: collapse; }"_s,
        u"td, th { border: 1px solid #b8cce4; padding: 1px 4px; text-align: left; }"_s,
        u"</style>"_s,
        u"</head>"_s,
        u"<body>"_s,
        u"<h1>"_s + title.toString() + u"</h1>"_s,
    };
    lines += bodyLines;
    lines += {u"</body>"_s, u"</html>"_s, QString()};
    return {lines.join(u"\r\n").toUtf8(), kHtml};
}

QString escaped(QStringView text)
{
    return text.toString().toHtmlEscaped();
}

SitePage announcement()
{
    QStringList body = {
        u"<p>欢迎使用觅踪助理！这是示例服务的公告页。下面的号码可以直接复制到查询框里试用，"
        u"每个号码对应一种查询结果：</p>"_s,
        u"<table>"_s,
        u"<tr><th>类别</th><th>号码</th><th>查询结果</th></tr>"_s,
    };
    for (const Sample& sample : samples()) {
        const QString kind = sample.kind == Kind::Device ? u"设备"_s : u"SIM卡"_s;
        body.append(u"<tr><td>"_s + kind + u"</td><td>"_s + escaped(sample.id) + u"</td><td>"_s +
                    escaped(sample.shows) + u"</td></tr>"_s);
    }
    body += {
        u"</table>"_s,
        u"<p>其他任何号码都会得到一个版式不同的页面，查询不到任何信息。</p>"_s,
        // One link of each kind the window knows: the site's own page opens
        // in the announcement's place, the shop in the user's browser.
        u"<p>帮助：<a href=\"/201302/285.html\">如何判断小偷已经刷机？</a>　"
        u"<a href=\"/taobao.php\" target=\"_blank\">觅踪网淘宝店</a></p>"_s,
    };
    return htmlPage(u"觅踪助理公告", body);
}

SitePage shop()
{
    return htmlPage(u"觅踪助理小店", {
                                         u"<p>这是示例服务里的小店页面，这里什么也不卖。</p>"_s,
                                         u"<p>觅踪助理本身免费使用，不需要购买任何服务。</p>"_s,
                                     });
}

SitePage helpNotReactivated()
{
    return htmlPage(
        u"如何催促对方刷机？",
        {
            u"<p>查询结果显示手机还未刷机时，手机多半仍锁在原来的账号里。</p>"_s,
            u"<ol>"_s,
            u"<li>在查找功能里把手机设为丢失模式，留下一个能联系到您的电话号码。</li>"_s,
            u"<li>保持账号锁定，不要从账号里移除这台设备。</li>"_s,
            u"<li>每隔几天再查一次，最近激活时间一变就说明手机被刷过机了。</li>"_s,
            u"</ol>"_s,
            u"<p>请同时向当地公安机关报案，并保存好购机凭证。</p>"_s,
        });
}

SitePage helpReactivated()
{
    return htmlPage(u"如何判断小偷已经刷机？",
                    {
                        u"<p>首次激活时间是手机第一次激活的日子；最近激活时间是最后一次激活的日子。"
                        u"两者不在同一天，就说明手机在首次激活之后又被激活过，也就是刷过机。</p>"_s,
                        u"<ol>"_s,
                        u"<li>记下最近激活时间和激活卡所属运营商。</li>"_s,
                        u"<li>把这些信息连同购机凭证一起交给办案民警。</li>"_s,
                        u"<li>之后再查时，如果最近激活时间又变了，说明手机又被刷了一次。</li>"_s,
                        u"</ol>"_s,
                    });
}

SitePage samplesJson()
{
    QJsonArray list;
    for (const Sample& sample : samples()) {
        list.append(QJsonObject{
            {u"kind"_s, kindName(sample.kind).toString()},
            {u"id"_s, sample.id.toString()},
            {u"shows"_s, sample.shows.toString()},
        });
    }
    return {QJsonDocument(list).toJson(QJsonDocument::Indented),
            QByteArrayLiteral("application/json")};
}

} // namespace

std::optional<SitePage> sitePage(QStringView path)
{
    if (path == site::kAnnouncementPath)
        return announcement();
    if (path == site::kShopPath)
        return shop();
    if (path == site::kHelpNotReactivatedPath)
        return helpNotReactivated();
    if (path == site::kHelpReactivatedPath)
        return helpReactivated();
    if (path == u"/samples.json")
        return samplesJson();
    return std::nullopt;
}

SitePage notFoundPage()
{
    return htmlPage(u"页面不存在", {u"<p>示例服务里没有这个页面。</p>"_s});
}

} // namespace mizong::sample
