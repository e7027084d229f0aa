#include "html_tree_tables.h"

#include "markup_output.h"

#include <QHash>

#include <array>

namespace mizong::page::dom::tree {

using markup::asciiLower;
using markup::isHtmlSpace;

namespace {

constexpr std::array<QStringView, kTagCount> kNames = {u"",
#define MIZONG_TREE_TAG_NAME(t) QStringView(u"" #t),
                                                       MIZONG_TREE_TAGS(MIZONG_TREE_TAG_NAME)
#undef MIZONG_TREE_TAG_NAME
};

std::array<quint16, kTagCount> makeFlags()
{
    std::array<quint16, kTagCount> f{};
    const auto set = [&f](std::initializer_list<Tag> tags, quint16 flag) {
        for (Tag t : tags)
            f[t] |= flag;
    };
    set({k_address, k_applet,     k_area,     k_article,    k_aside,     k_base,     k_basefont,
         k_bgsound, k_blockquote, k_body,     k_br,         k_button,    k_caption,  k_center,
         k_col,     k_colgroup,   k_dd,       k_details,    k_dir,       k_div,      k_dl,
         k_dt,      k_embed,      k_fieldset, k_figcaption, k_figure,    k_footer,   k_form,
         k_frame,   k_frameset,   k_h1,       k_h2,         k_h3,        k_h4,       k_h5,
         k_h6,      k_head,       k_header,   k_hgroup,     k_hr,        k_html,     k_iframe,
         k_img,     k_input,      k_keygen,   k_li,         k_link,      k_listing,  k_main,
         k_marquee, k_menu,       k_meta,     k_nav,        k_noembed,   k_noframes, k_noscript,
         k_object,  k_ol,         k_p,        k_param,      k_plaintext, k_pre,      k_script,
         k_section, k_select,     k_source,   k_style,      k_summary,   k_table,    k_tbody,
         k_td,      k_template_,  k_textarea, k_tfoot,      k_th,        k_thead,    k_title,
         k_tr,      k_track,      k_ul,       k_wbr,        k_xmp},
        Special);
    set({k_a, k_b, k_big, k_code, k_em, k_font, k_i, k_nobr, k_s, k_small, k_strike, k_strong, k_tt,
         k_u},
        Formatting);
    set({k_applet, k_caption, k_html, k_table, k_td, k_th, k_marquee, k_object, k_template_},
        Scope);
    set({k_dd, k_dt, k_li, k_optgroup, k_option, k_p, k_rb, k_rp, k_rt, k_rtc},
        ImpliedEnd | ImpliedThorough);
    set({k_caption, k_colgroup, k_tbody, k_td, k_tfoot, k_th, k_thead, k_tr}, ImpliedThorough);
    set({k_address, k_article, k_aside,    k_blockquote, k_center, k_details, k_dialog,  k_dir,
         k_div,     k_dl,      k_fieldset, k_figcaption, k_figure, k_footer,  k_header,  k_hgroup,
         k_main,    k_menu,    k_nav,      k_ol,         k_p,      k_section, k_summary, k_ul},
        ClosesP);
    set({k_h1, k_h2, k_h3, k_h4, k_h5, k_h6}, Heading);
    set({k_b,      k_big,  k_blockquote, k_body,  k_br,   k_center, k_code,    k_dd,   k_div,
         k_dl,     k_dt,   k_em,         k_embed, k_h1,   k_h2,     k_h3,      k_h4,   k_h5,
         k_h6,     k_head, k_hr,         k_i,     k_img,  k_li,     k_listing, k_menu, k_meta,
         k_nobr,   k_ol,   k_p,          k_pre,   k_ruby, k_s,      k_small,   k_span, k_strong,
         k_strike, k_sub,  k_sup,        k_table, k_tt,   k_u,      k_ul,      k_var},
        Breakout);
    set({k_area, k_base, k_basefont, k_bgsound, k_br, k_col, k_embed, k_frame, k_hr, k_image, k_img,
         k_input, k_keygen, k_link, k_meta, k_param, k_source, k_track, k_wbr},
        Void);
    return f;
}

const std::array<quint16, kTagCount> kFlags = makeFlags();

QHash<QString, QString> lowerToMixed(std::initializer_list<QStringView> names)
{
    QHash<QString, QString> map;
    for (QStringView n : names)
        map.insert(n.toString().toLower(), n.toString());
    return map;
}

QString mixed(const QHash<QString, QString>& map, const QString& lower)
{
    const auto it = map.constFind(lower);
    return it == map.constEnd() ? lower : *it;
}

bool startsWithLowered(QStringView s, QStringView lowerPrefix)
{
    return s.size() >= lowerPrefix.size() &&
           s.first(lowerPrefix.size()).compare(lowerPrefix, Qt::CaseInsensitive) == 0;
}

bool quirksIds(QStringView publicId, bool hasPublic, QStringView systemId, bool hasSystem)
{
    static constexpr QStringView prefixes[] = {
        u"+//silmaril//dtd html pro v0r11 19970101//",
        u"-//as//dtd html 3.0 aswedit + extensions//",
        u"-//advasoft ltd//dtd html 3.0 aswedit + extensions//",
        u"-//ietf//dtd html 2.0 level 1//",
        u"-//ietf//dtd html 2.0 level 2//",
        u"-//ietf//dtd html 2.0 strict level 1//",
        u"-//ietf//dtd html 2.0 strict level 2//",
        u"-//ietf//dtd html 2.0 strict//",
        u"-//ietf//dtd html 2.0//",
        u"-//ietf//dtd html 2.1e//",
        u"-//ietf//dtd html 3.0//",
        u"-//ietf//dtd html 3.2 final//",
        u"-//ietf//dtd html 3.2//",
        u"-//ietf//dtd html 3//",
        u"-//ietf//dtd html level 0//",
        u"-//ietf//dtd html level 1//",
        u"-//ietf//dtd html level 2//",
        u"-//ietf//dtd html level 3//",
        u"-//ietf//dtd html strict level 0//",
        u"-//ietf//dtd html strict level 1//",
        u"-//ietf//dtd html strict level 2//",
        u"-//ietf//dtd html strict level 3//",
        u"-//ietf//dtd html strict//",
        u"-//ietf//dtd html//",
        u"-//metrius//dtd metrius presentational//",
        u"-//microsoft//dtd internet explorer 2.0 html strict//",
        u"-//microsoft//dtd internet explorer 2.0 html//",
        u"-//microsoft//dtd internet explorer 2.0 tables//",
        u"-//microsoft//dtd internet explorer 3.0 html strict//",
        u"-//microsoft//dtd internet explorer 3.0 html//",
        u"-//microsoft//dtd internet explorer 3.0 tables//",
        u"-//netscape comm. corp.//dtd html//",
        u"-//netscape comm. corp.//dtd strict html//",
        u"-//o'reilly and associates//dtd html 2.0//",
        u"-//o'reilly and associates//dtd html extended 1.0//",
        u"-//o'reilly and associates//dtd html extended relaxed 1.0//",
        u"-//sq//dtd html 2.0 hotmetal + extensions//",
        u"-//softquad software//dtd hotmetal pro 6.0::19990601::extensions to html 4.0//",
        u"-//softquad//dtd hotmetal pro 4.0::19971010::extensions to html 4.0//",
        u"-//spyglass//dtd html 2.0 extended//",
        u"-//sun microsystems corp.//dtd hotjava html//",
        u"-//sun microsystems corp.//dtd hotjava strict html//",
        u"-//w3c//dtd html 3 1995-03-24//",
        u"-//w3c//dtd html 3.2 draft//",
        u"-//w3c//dtd html 3.2 final//",
        u"-//w3c//dtd html 3.2//",
        u"-//w3c//dtd html 3.2s draft//",
        u"-//w3c//dtd html 4.0 frameset//",
        u"-//w3c//dtd html 4.0 transitional//",
        u"-//w3c//dtd html experimental 19960712//",
        u"-//w3c//dtd html experimental 970421//",
        u"-//w3c//dtd w3 html//",
        u"-//w3o//dtd w3 html 3.0//",
        u"-//webtechs//dtd mozilla html 2.0//",
        u"-//webtechs//dtd mozilla html//",
    };
    if (hasPublic) {
        if (publicId.compare(u"-//W3O//DTD W3 HTML Strict 3.0//EN//", Qt::CaseInsensitive) == 0 ||
            publicId.compare(u"-/W3C/DTD HTML 4.0 Transitional/EN", Qt::CaseInsensitive) == 0 ||
            publicId.compare(u"HTML", Qt::CaseInsensitive) == 0)
            return true;
        for (QStringView p : prefixes)
            if (startsWithLowered(publicId, p))
                return true;
        if (!hasSystem && (startsWithLowered(publicId, u"-//w3c//dtd html 4.01 frameset//") ||
                           startsWithLowered(publicId, u"-//w3c//dtd html 4.01 transitional//")))
            return true;
    }
    return hasSystem &&
           systemId.compare(u"http://www.ibm.com/data/dtd/v11/ibmxhtml1-transitional.dtd",
                            Qt::CaseInsensitive) == 0;
}

} // namespace

QStringView nameOf(Tag tag)
{
    if (tag == k_annotation_xml)
        return u"annotation-xml";
    if (tag == k_template_)
        return u"template";
    return kNames[tag];
}

Tag tagOf(QStringView lowerName)
{
    static const QHash<QString, Tag> tags = [] {
        QHash<QString, Tag> map;
        for (int t = 1; t < kTagCount; ++t)
            map.insert(nameOf(Tag(t)).toString(), Tag(t));
        return map;
    }();
    return tags.value(lowerName.toString(), kOther);
}

quint16 flagsOf(Tag tag)
{
    return kFlags[tag];
}

QString svgElementName(const QString& lowerName)
{
    static const QHash<QString, QString> map = lowerToMixed({
        u"altGlyph",
        u"altGlyphDef",
        u"altGlyphItem",
        u"animateColor",
        u"animateMotion",
        u"animateTransform",
        u"clipPath",
        u"feBlend",
        u"feColorMatrix",
        u"feComponentTransfer",
        u"feComposite",
        u"feConvolveMatrix",
        u"feDiffuseLighting",
        u"feDisplacementMap",
        u"feDistantLight",
        u"feDropShadow",
        u"feFlood",
        u"feFuncA",
        u"feFuncB",
        u"feFuncG",
        u"feFuncR",
        u"feGaussianBlur",
        u"feImage",
        u"feMerge",
        u"feMergeNode",
        u"feMorphology",
        u"feOffset",
        u"fePointLight",
        u"feSpecularLighting",
        u"feSpotLight",
        u"feTile",
        u"feTurbulence",
        u"foreignObject",
        u"glyphRef",
        u"linearGradient",
        u"radialGradient",
        u"textPath",
    });
    return mixed(map, lowerName);
}

QString svgAttributeName(const QString& lowerName)
{
    static const QHash<QString, QString> map = lowerToMixed({
        u"attributeName",
        u"attributeType",
        u"baseFrequency",
        u"baseProfile",
        u"calcMode",
        u"clipPathUnits",
        u"diffuseConstant",
        u"edgeMode",
        u"filterUnits",
        u"glyphRef",
        u"gradientTransform",
        u"gradientUnits",
        u"kernelMatrix",
        u"kernelUnitLength",
        u"keyPoints",
        u"keySplines",
        u"keyTimes",
        u"lengthAdjust",
        u"limitingConeAngle",
        u"markerHeight",
        u"markerUnits",
        u"markerWidth",
        u"maskContentUnits",
        u"maskUnits",
        u"numOctaves",
        u"pathLength",
        u"patternContentUnits",
        u"patternTransform",
        u"patternUnits",
        u"pointsAtX",
        u"pointsAtY",
        u"pointsAtZ",
        u"preserveAlpha",
        u"preserveAspectRatio",
        u"primitiveUnits",
        u"refX",
        u"refY",
        u"repeatCount",
        u"repeatDur",
        u"requiredExtensions",
        u"requiredFeatures",
        u"specularConstant",
        u"specularExponent",
        u"spreadMethod",
        u"startOffset",
        u"stdDeviation",
        u"stitchTiles",
        u"surfaceScale",
        u"systemLanguage",
        u"tableValues",
        u"targetX",
        u"targetY",
        u"textLength",
        u"viewBox",
        u"viewTarget",
        u"xChannelSelector",
        u"yChannelSelector",
        u"zoomAndPan",
    });
    return mixed(map, lowerName);
}

QString mathAttributeName(const QString& lowerName)
{
    return lowerName == u"definitionurl" ? QStringLiteral("definitionURL") : lowerName;
}

Doctype readDoctype(QStringView in)
{
    const qsizetype n = in.size();
    qsizetype i = 0;
    // Blanks and comments before it are passed over as the initial mode does.
    for (;;) {
        while (i < n && isHtmlSpace(in[i].unicode()))
            ++i;
        if (in.sliced(i).startsWith(u"<!--")) {
            const qsizetype close = in.indexOf(u"-->", i + 4);
            if (close < 0)
                return {};
            i = close + 3;
            continue;
        }
        break;
    }
    if (!startsWithLowered(in.sliced(i), u"<!doctype"))
        return {};
    i += 9;
    const auto skipBlanks = [&] {
        while (i < n && isHtmlSpace(in[i].unicode()))
            ++i;
    };
    const auto finish = [&](bool quirks) {
        const qsizetype close = in.indexOf(u'>', i);
        return Doctype{close < 0 ? n : close + 1, quirks};
    };
    skipBlanks();
    QString name;
    while (i < n && !isHtmlSpace(in[i].unicode()) && in[i] != u'>')
        name += QChar(asciiLower(in[i++].unicode()));
    if (name.isEmpty() || i >= n)
        return finish(true);
    const bool wrongName = name != u"html";
    QStringView ids[2];
    bool has[2] = {false, false};
    skipBlanks();
    int next = -1; // which identifier comes next: 0 public, 1 system
    if (startsWithLowered(in.sliced(i), u"public"))
        next = 0;
    else if (startsWithLowered(in.sliced(i), u"system"))
        next = 1;
    else if (i < n && in[i] != u'>')
        return finish(true);
    if (next >= 0)
        i += 6;
    while (next >= 0 && next < 2) {
        skipBlanks();
        if (i >= n || (in[i] != u'"' && in[i] != u'\'')) {
            // A missing public identifier means quirks; a missing system one after it does not.
            if (next == 0 || !has[0] || (i < n && in[i] != u'>'))
                return finish(true);
            break;
        }
        const QChar quote = in[i];
        const qsizetype close = in.indexOf(quote, i + 1);
        const qsizetype gt = in.indexOf(u'>', i + 1);
        if (close < 0 || (gt >= 0 && gt < close)) {
            i = gt < 0 ? n : gt;
            return finish(true);
        }
        ids[next] = in.sliced(i + 1, close - i - 1);
        has[next] = true;
        i = close + 1;
        next = next == 0 ? 1 : 2;
    }
    return finish(wrongName || quirksIds(ids[0], has[0], ids[1], has[1]));
}

} // namespace mizong::page::dom::tree
