// For tools/make-encoding-tables --check: byte sequences through decodeCharset
// under the label its argument names. Standard input: each sequence as a
// 32-bit length and its bytes; standard output: each text as a 32-bit count
// of UTF-16 units and the units, all little-endian. Exit code 2: the label
// names no encoding here.

#include "text_decoding.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::uint32_t readLength(const std::string& in, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + std::size_t(i)]);
    return value;
}

void put(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: mizong-decode-sequences LABEL < sequences\n", stderr);
        return 1;
    }
    std::string in;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        in.append(buffer, got);

    std::string out;
    for (std::size_t at = 0; at + 4 <= in.size();) {
        const std::uint32_t length = readLength(in, at);
        at += 4;
        if (length > in.size() - at)
            return 1;
        const std::optional<QString> text =
            mizong::decodeCharset(QByteArrayView(in.data() + at, qsizetype(length)), argv[1]);
        if (!text)
            return 2;
        at += length;
        put(out, std::uint32_t(text->size()), 4);
        for (const QChar unit : *text)
            put(out, unit.unicode(), 2);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
