#include "platform/Utf8Writer.h"

#include <algorithm>

namespace quorvit {

Utf8Writer::Utf8Writer(ByteSink& sink, qsizetype capacity)
    : m_sink(sink), m_capacity(std::max<qsizetype>(capacity, 4)), m_buffer(new char[size_t(m_capacity)])
{}

Utf8Writer::AsciiEscapes::AsciiEscapes(QLatin1String (*escape)(char16_t unit))
{
    for (char16_t unit = 0; unit < m_table.size(); ++unit)
        m_table[unit] = escape(unit);
}

bool Utf8Writer::flush()
{
    if (!m_failed && m_used > 0 && !m_sink.write(m_buffer.get(), m_used))
        m_failed = true;
    m_used = 0;
    return !m_failed;
}

void Utf8Writer::appendAsciiSlowly(const char* text, qsizetype size)
{
    while (size > 0) {
        if (m_used == m_capacity)
            flush();
        const qsizetype part = std::min(size, m_capacity - m_used);
        std::memcpy(m_buffer.get() + m_used, text, size_t(part));
        m_used += part;
        text += part;
        size -= part;
    }
}

template <bool Escaping> void Utf8Writer::encode(QStringView text, const AsciiEscapes* escapes)
{
    const char16_t* in = text.utf16();
    const char16_t* const end = in + text.size();
    char* const start = m_buffer.get();
    char* const stop = start + m_capacity;
    char* out = start + m_used;
    const auto plain = [&](char16_t unit) {
        if constexpr (Escaping)
            return unit < 0x80 && (*escapes)[unit].isEmpty();
        else
            return unit < 0x80;
    };
    while (in != end) {
        // A run of characters copied as they are, as far as the text and the room in the buffer go.
        const char16_t* const runEnd = in + std::min<qsizetype>(end - in, stop - out);
        while (in != runEnd && plain(*in))
            *out++ = char(*in++);
        if (in == end)
            break;
        const char16_t unit = *in;
        if (unit < 0x80) {
            if constexpr (Escaping) {
                if (!plain(unit)) {
                    m_used = out - start;
                    appendAscii((*escapes)[unit]);
                    out = start + m_used;
                    ++in;
                    continue;
                }
            }
            m_used = m_capacity; // the run ended at the end of the buffer
            flush();
            out = start;
            continue;
        }
        if (stop - out < 4) {
            m_used = out - start;
            flush();
            out = start;
        }
        if (unit < 0x800) {
            *out++ = char(0xC0 | (unit >> 6));
            *out++ = char(0x80 | (unit & 0x3F));
        } else if (unit < 0xD800 || unit > 0xDFFF) {
            *out++ = char(0xE0 | (unit >> 12));
            *out++ = char(0x80 | ((unit >> 6) & 0x3F));
            *out++ = char(0x80 | (unit & 0x3F));
        } else if (unit < 0xDC00 && in + 1 != end && in[1] >= 0xDC00 && in[1] <= 0xDFFF) {
            const char32_t code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (in[1] - 0xDC00);
            *out++ = char(0xF0 | (code >> 18));
            *out++ = char(0x80 | ((code >> 12) & 0x3F));
            *out++ = char(0x80 | ((code >> 6) & 0x3F));
            *out++ = char(0x80 | (code & 0x3F));
            ++in;
        } else {
            *out++ = '?'; // what toUtf8 makes of a surrogate without its partner
        }
        ++in;
    }
    m_used = out - start;
}

template void Utf8Writer::encode<false>(QStringView, const AsciiEscapes*);
template void Utf8Writer::encode<true>(QStringView, const AsciiEscapes*);

} // namespace quorvit
