// Bytes through the Encoding Standard's decoders, the encoding chosen by the
// input's first byte. The sanitizers watch for a read past the input (the
// rest of the input is the whole buffer); besides, a decoder never gives a
// lone surrogate, never swallows markup after any bytes where ASCII stays
// ASCII, and agrees with the other reading where there is one: Qt's UTF-8
// decoder on valid UTF-8, the code units themselves on valid UTF-16.

#include "decoders_p.h"

#include <QByteArray>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

using mizong::decoding::Encoding;

namespace {

bool wellFormed(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isLowSurrogate())
            return false;
        if (text[i].isHighSurrogate() && (++i == text.size() || !text[i].isLowSurrogate()))
            return false;
    }
    return true;
}

// The bytes as UTF-16 code units, when they are an even number and pair
// every surrogate.
std::optional<QString> asUtf16(QByteArrayView bytes, bool bigEndian)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    QString units;
    for (qsizetype at = 0; at < bytes.size(); at += 2) {
        const auto first = uchar(bytes[at]);
        const auto second = uchar(bytes[at + 1]);
        units += QChar(char16_t(bigEndian ? first << 8 | second : second << 8 | first));
    }
    if (!wellFormed(units))
        return std::nullopt;
    return units;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto encoding = Encoding(data[0] % mizong::encoding_index::kEncodingCount);
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString text = mizong::decoding::decode(encoding, bytes);
    if (!wellFormed(text))
        __builtin_trap();

    switch (encoding) {
    case Encoding::Utf8: {
        QStringDecoder qt(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
        const QString theirs = qt.decode(bytes);
        if (!qt.hasError() && theirs != text)
            __builtin_trap();
        // An error where Qt finds one, and only there (unless the input
        // holds a U+FFFD of its own).
        if (qt.hasError() != text.contains(QChar(0xFFFD)) && !bytes.contains("\xEF\xBF\xBD"))
            __builtin_trap();
        break;
    }
    case Encoding::Utf16Be:
    case Encoding::Utf16Le:
        if (const std::optional<QString> units = asUtf16(bytes, encoding == Encoding::Utf16Be);
            units && *units != text)
            __builtin_trap();
        return 0;
    case Encoding::Iso2022Jp: // escape sequences make ASCII something else
    case Encoding::Replacement:
        return 0;
    default:
        break;
    }
    if (!mizong::decoding::decode(encoding, bytes.toByteArray() + "<p>").endsWith(u"<p>"))
        __builtin_trap();
    return 0;
}
