#include "platform/TextEncoding.h"

#include <QHash>
#include <QStringDecoder>

#include <cctype>

namespace quorvit {

namespace {
// Mac OS Roman bytes 0x80-0xFF (0xDB is the euro sign, as in Mac OS 8.5 and later).
const char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

const QHash<char16_t, char>& macRomanReverse()
{
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> map;
        for (int i = 0; i < 128; ++i)
            map.insert(kMacRomanHigh[i], char(0x80 + i));
        return map;
    }();
    return table;
}
} // namespace

std::optional<QString> decodeUtf8Strict(const QByteArray& bytes)
{
    // Stateless: a sequence cut off at the end is an error, not state kept for more input.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString decodeMacRoman(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        *out++ = value < 0x80 ? QChar(value) : QChar(kMacRomanHigh[value - 0x80]);
    }
    return text;
}

std::optional<QByteArray> encodeMacRoman(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    const auto& reverse = macRomanReverse();
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit < 0x80) {
            bytes.append(char(unit));
            continue;
        }
        const auto found = reverse.constFind(unit);
        if (found == reverse.constEnd())
            return std::nullopt;
        bytes.append(found.value());
    }
    return bytes;
}

QByteArray declaredHtmlCharset(const QByteArray& bytes)
{
    // The declaration belongs in the head, before any bookmark.
    const QByteArray head = bytes.left(4096).toLower();
    qsizetype at = 0;
    while ((at = head.indexOf("charset", at)) >= 0) {
        at += 7;
        qsizetype i = at;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t'))
            ++i;
        if (i >= head.size() || head[i] != '=')
            continue;
        ++i;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '"' || head[i] == '\''))
            ++i;
        const qsizetype start = i;
        while (i < head.size() && (std::isalnum(static_cast<unsigned char>(head[i])) || head[i] == '-' ||
                                   head[i] == '_' || head[i] == '.' || head[i] == ':'))
            ++i;
        if (i > start)
            return head.mid(start, i - start);
    }
    return QByteArray();
}

std::optional<QString> decodeCharset(const QByteArray& bytes, const QByteArray& charset, bool* replaced)
{
    QByteArray name = charset.toLower();
    if (name == "utf8" || name == "unicode-1-1-utf-8")
        name = "utf-8";
    else if (name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "l1" ||
             name == "us-ascii" || name == "ascii" || name == "iso_8859-1" || name == "cp1252")
        name = "windows-1252";
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    const bool error = decoder.hasError();
    // ICU's decoders substitute U+001A, a control character; what could not be read is U+FFFD.
    if (error && !bytes.contains('\x1a'))
        text.replace(QChar(0x1A), QChar(0xFFFD));
    if (replaced)
        *replaced = error;
    return text;
}

} // namespace quorvit
