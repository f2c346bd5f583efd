// Escapes and unescapes arbitrary text with every flag combination and checks what must always hold.
#include "formats/html/HTMLEscapeConverter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

// The characters whose table entity is empty: escaping with `extended` deletes them.
bool deletedWhenExtended(QChar ch)
{
    switch (ch.unicode()) {
    case 0x88:
    case 0x8D:
    case 0x8E:
    case 0x8F:
    case 0x90:
    case 0x9D:
    case 0x9E:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0)
        return 0;
    // First byte chooses the reading: raw UTF-16 code units (lone surrogates included) or UTF-8.
    QString text;
    if (bytes[0] & 1) {
        for (size_t i = 1; i + 1 < size; i += 2)
            text.append(QChar(char16_t(bytes[i] | (bytes[i + 1] << 8))));
    } else {
        text = QString::fromUtf8(reinterpret_cast<const char*>(bytes + 1), qsizetype(size - 1));
    }

    const HTMLEscapeConverter& converter = HTMLEscapeConverter::sharedInstance();
    const bool hasAmpersand = text.contains(QLatin1Char('&'));

    for (const bool extended : {false, true}) {
        for (const bool unicode : {false, true}) {
            const QString escaped = converter.convertHighASCIIFromString(text, extended, unicode);
            check(converter.convertToHTMLCharacters(text, extended, unicode) ==
                      (converter.containsHighASCIIChar(text) ? escaped : text),
                  "convertToHTMLCharacters agrees with its guard");
            for (const QChar ch : escaped) {
                check(ch != u'<' && ch != u'>' && ch != u'"', "escaped text holds no markup characters");
                check(!unicode || ch.unicode() < 0x80, "unicode escaping leaves only ASCII");
            }
            // Entity-like text already in the input ("&lt;") is decoded on the way back by design, so the
            // round trip is exact only without ampersands.
            if (!hasAmpersand) {
                QString expected = text;
                if (extended) {
                    // The table's C1 rows come back as the Windows-1252 characters they name.
                    expected.removeIf(deletedWhenExtended);
                    for (QChar& ch : expected)
                        ch = HTMLEscapeConverter::windows1252Meaning(ch);
                }
                check(converter.convertHTMLFromString(escaped) == expected,
                      "escape then unescape round-trips");
            }
        }
    }

    const QString decoded = converter.convertHTMLFromString(text);
    check(decoded.size() <= text.size(), "unescaping never lengthens");
    check(converter.convertToUnicodeCharacters(text).size() <= text.size(),
          "reference decoding never lengthens");
    if (!hasAmpersand) {
        check(converter.convertToASCIICharacters(text) == text, "text without ampersand is left alone");
        check(converter.convertToUnicodeCharacters(converter.convertUnicodeFromString(text)) == text,
              "decimal references round-trip");
    }
    return 0;
}
