#include "result_pages.h"

namespace bench {

namespace {

const QString crlf = QStringLiteral("\r\n");
const QString strongEnd = QStringLiteral("</strong></span></td>");
const QString starterCell = QStringLiteral("<td width=\"70%\" scope=\"col\" abbr=\"Starter\"><span "
                                           "class=\"STYLE2 STYLE1 STYLE11 biaoti\">");
const QString labelOpen = QStringLiteral(
    "    <th width=\"30%\" scope=\"row\"><span class=\"STYLE2 STYLE1 STYLE11 biaoti\">");
const QString simValueOpen = QStringLiteral("<div class=\"STYLE14\"><span class=\"STYLE15\">");

// Appends whole lines and keeps count of the UTF-8 size.
class PageWriter
{
public:
    void line(const QString& text)
    {
        m_text += text;
        m_text += crlf;
        m_bytes += text.toUtf8().size() + 2;
    }
    void raw(const QString& text)
    {
        m_text += text;
        m_bytes += text.toUtf8().size();
    }
    qsizetype bytes() const { return m_bytes; }
    QString take() { return std::move(m_text); }

private:
    QString m_text;
    qsizetype m_bytes = 0;
};

// News lists and link blocks as the service's pages carry them around the
// result table, numbered so that no two lines are the same.
void writeFiller(PageWriter& page, qsizetype untilBytes, int& serial)
{
    static const QStringList titles = {
        QStringLiteral("苹果手机丢失后的第一件事：登录iCloud开启丢失模式"),
        QStringLiteral("如何通过IMEI查询手机的保修状态与购买日期"),
        QStringLiteral("二手iPhone选购指南：看清序列号与出厂信息"),
        QStringLiteral("运营商合约机与零售机有什么区别"),
        QStringLiteral("找回被盗手机的真实案例分享"),
        QStringLiteral("iOS更新后无法激活怎么办"),
    };
    while (page.bytes() < untilBytes) {
        const int n = serial++;
        if (n % 25 == 0) {
            page.line(QStringLiteral("<div class=\"news-box\" id=\"box%1\">").arg(n));
            page.line(
                QStringLiteral(
                    "  <h3 class=\"news-title\"><a href=\"/list/%1.html\">行业资讯 第%1期</a></h3>")
                    .arg(n / 25));
            page.line(QStringLiteral("  <ul class=\"news-list\">"));
        }
        page.line(
            QStringLiteral("    <li><a href=\"/201302/%1.html\" target=\"_blank\" title=\"%2\">%2"
                           "</a><span class=\"date\">2013-%3-%4</span></li>")
                .arg(n)
                .arg(titles[n % titles.size()])
                .arg(1 + n % 12, 2, 10, QLatin1Char('0'))
                .arg(1 + n % 28, 2, 10, QLatin1Char('0')));
        if (n % 25 == 24) {
            page.line(QStringLiteral("  </ul>"));
            page.line(QStringLiteral("</div>"));
        }
    }
}

void writeLabelRow(PageWriter& page, const QString& label)
{
    page.line(QStringLiteral("  <tr>"));
    page.line(labelOpen + label + QStringLiteral("</span></th>"));
}

void writeResultTable(PageWriter& page)
{
    page.line(
        QStringLiteral("<table width=\"100%\" border=\"0\" cellpadding=\"0\" cellspacing=\"1\" "
                       "class=\"biaoge\">"));
    writeLabelRow(page, QStringLiteral("激活卡所属运营商"));
    page.line(QStringLiteral(
        "    <td width=\"70%\"><span class=\"STYLE2 STYLE1 STYLE11 biaoti\"><strong> "));
    page.line(QStringLiteral("中国联通") + strongEnd);
    page.line(QStringLiteral("  </tr>"));
    writeLabelRow(page, QStringLiteral("首次激活时间"));
    page.line(QStringLiteral("    ") + starterCell +
              QStringLiteral("<span class=\"biaoti\">2013-01-05 10:21:33</span></span></td>"));
    page.line(QStringLiteral("  </tr>"));
    writeLabelRow(page, QStringLiteral("最近激活时间"));
    page.line(QStringLiteral("    <td width=\"70%\"><span class=\"biaoti STYLE8\">2014-03-02 "
                             "09:12:40</span></td>"));
    page.line(QStringLiteral("  </tr>"));
    writeLabelRow(page, QStringLiteral("产品型号"));
    page.line(QStringLiteral("    ") + starterCell +
              QStringLiteral("<strong>iPhone 5 (A1429)</strong></span>"));
    page.line(QStringLiteral("    </td>"));
    page.line(QStringLiteral("  </tr>"));
    writeLabelRow(page, QStringLiteral("产品序列号"));
    page.line(QStringLiteral("    ") + starterCell + QStringLiteral("<strong>DNPK3XXXF8H2") +
              strongEnd);
    page.line(QStringLiteral("  </tr>"));
    const QList<std::pair<QString, QString>> dated = {
        {QStringLiteral("出厂日期"), QStringLiteral("2012-10-08")},
        {QStringLiteral("iOS版本"), QStringLiteral("6.1.4")},
        {QStringLiteral("购买时间"), QStringLiteral("2013-01-04")},
        {QStringLiteral("过保时间"), QStringLiteral("2014-01-03")},
        {QStringLiteral("剩余保修时间"), QStringLiteral("暂无")},
    };
    for (const auto& [label, value] : dated) {
        writeLabelRow(page, label);
        page.line(QStringLiteral("      ") + starterCell + QStringLiteral("<strong> ") + value +
                  strongEnd);
        page.line(QStringLiteral("  </tr>"));
    }
    page.line(QStringLiteral("</table>"));
}

QStringList firstPieces()
{
    return {QStringLiteral("激活卡所属运营商"),
            QStringLiteral("首次激活时间</span></th>"),
            QStringLiteral("<span class=\"biaoti STYLE8\">"),
            starterCell + QStringLiteral("<strong>"),
            QStringLiteral("出厂日期"),
            QStringLiteral("iOS版本</span></th>"),
            QStringLiteral("购买时间"),
            QStringLiteral("过保时间"),
            QStringLiteral("剩余保修时间"),
            QStringLiteral("运营商</div>"),
            QStringLiteral("手机号"),
            QStringLiteral("卡年代"),
            QStringLiteral("归属地")};
}

// Every row in the shape its pattern wants, up to the value, which is never
// closed.
void writeUnclosedRows(PageWriter& page)
{
    writeLabelRow(page, QStringLiteral("激活卡所属运营商"));
    page.line(QStringLiteral(
        "    <td width=\"70%\"><span class=\"STYLE2 STYLE1 STYLE11 biaoti\"><strong> "));
    page.line(QStringLiteral("中国联通"));
    writeLabelRow(page, QStringLiteral("首次激活时间"));
    page.line(QStringLiteral("    ") + starterCell +
              QStringLiteral("<span class=\"biaoti\">2013-01-05"));
    page.line(QStringLiteral("    <td><span class=\"biaoti STYLE8\">2014-03-02 09:12:40"));
    page.line(QStringLiteral("    ") + starterCell + QStringLiteral("<strong>iPhone 5 (A1429)"));
    for (const QString& label :
         {QStringLiteral("出厂日期"), QStringLiteral("iOS版本"), QStringLiteral("购买时间"),
          QStringLiteral("过保时间"), QStringLiteral("剩余保修时间")}) {
        writeLabelRow(page, label);
        page.line(QStringLiteral("      ") + starterCell + QStringLiteral("<strong> 2012-10-08"));
    }
    page.line(QStringLiteral("<th><div class=\"STYLE14\">运营商</div>"));
    page.line(QStringLiteral("</div></th>"));
    page.line(QStringLiteral("<td width=\"74%\">") + simValueOpen);
    page.line(QStringLiteral(" 中国联通"));
    for (const QString& label :
         {QStringLiteral("手机号"), QStringLiteral("卡年代"), QStringLiteral("归属地")}) {
        page.line(QStringLiteral("<th><div class=\"STYLE14\">") + label + QStringLiteral("</div>"));
        page.line(QStringLiteral("</div></th>"));
        page.line(QStringLiteral("<td width=\"74%\">"));
        page.line(simValueOpen);
        page.line(QStringLiteral(" 2008年"));
        page.line(QStringLiteral(" 0755"));
    }
}

} // namespace

QString typicalPage(qsizetype bytes)
{
    PageWriter page;
    page.line(QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                             "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"));
    page.line(QStringLiteral("<html xmlns=\"http://www.w3.org/1999/xhtml\">"));
    page.line(QStringLiteral("<head>"));
    page.line(QStringLiteral(
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"));
    page.line(QStringLiteral("<title>苹果序列号查询结果</title>"));
    page.line(QStringLiteral("<style type=\"text/css\">"));
    page.line(QStringLiteral(".STYLE1 {color: #333333; font-size: 14px;}"));
    page.line(QStringLiteral(".STYLE2 {font-family: \"微软雅黑\";}"));
    page.line(QStringLiteral(".STYLE8 {color: #FF0000; font-weight: bold;}"));
    page.line(QStringLiteral(".STYLE11 {line-height: 28px;}"));
    page.line(QStringLiteral(".biaoti {padding-left: 8px;}"));
    page.line(QStringLiteral(".biaoge th {background: #F2F2F2; text-align: right;}"));
    page.line(QStringLiteral("</style>"));
    page.line(QStringLiteral("</head>"));
    page.line(QStringLiteral("<body>"));
    page.line(QStringLiteral("<div class=\"top\"><a href=\"/\">首页</a> | <a href=\"/result/\">"
                             "序列号查询</a> | <a href=\"/iccid/\">ICCID查询</a></div>"));
    // The result table sits after the first half of the filler.
    const qsizetype table = 2900;
    const qsizetype tail = 420;
    int serial = 0;
    writeFiller(page, std::max<qsizetype>(page.bytes(), (bytes - table - tail) / 2), serial);
    writeResultTable(page);
    writeFiller(page, bytes - tail, serial);
    page.line(QStringLiteral("<div class=\"footer\">本站查询结果仅供参考，以苹果官网为准。</div>"));
    page.line(QStringLiteral("<script type=\"text/javascript\">var _hmt = _hmt || [];</script>"));
    page.line(QStringLiteral("</body>"));
    page.line(QStringLiteral("</html>"));
    while (page.bytes() < bytes)
        page.raw(QStringLiteral(" "));
    return page.take();
}

QString hostilePage(Hostile kind, qsizetype bytes)
{
    PageWriter page;
    const QStringList pieces = firstPieces();
    switch (kind) {
    case Hostile::LabelsOnOneLine:
        for (qsizetype i = 0; page.bytes() < bytes - 2; ++i)
            page.raw(pieces[i % pieces.size()]);
        page.raw(crlf);
        break;
    case Hostile::Unclosed:
        while (page.bytes() < bytes - 200)
            writeUnclosedRows(page);
        // Closing markup exists, only never where a value would need it.
        page.line(QString());
        page.line(QStringLiteral("</strong></span></td></span></span></td></span></div></td>"));
        break;
    case Hostile::ParenCr: {
        // Each megabyte line is followed by a short one, so that the last
        // line of the page is no different from the others.
        const QString trailer = QStringLiteral("</td></tr>");
        constexpr qsizetype lineBytes = 1 << 20;
        for (qsizetype i = 0; page.bytes() < bytes - 2;) {
            const qsizetype lineEnd = std::min(bytes, page.bytes() + lineBytes) - 14;
            while (page.bytes() < lineEnd - 64) {
                page.raw(QStringLiteral("((\r(\r\r(").repeated(8));
                page.raw(pieces[i++ % pieces.size()]);
            }
            while (page.bytes() < lineEnd)
                page.raw(QStringLiteral("("));
            page.raw(crlf);
            page.line(trailer);
        }
        break;
    }
    }
    return page.take();
}

const char* hostileName(Hostile kind)
{
    switch (kind) {
    case Hostile::LabelsOnOneLine:
        return "labels-one-line";
    case Hostile::Unclosed:
        return "never-closing";
    case Hostile::ParenCr:
        return "paren-cr-lines";
    }
    return "?";
}

} // namespace bench
