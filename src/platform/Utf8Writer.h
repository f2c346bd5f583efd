#pragma once

#include "platform/AtomicFile.h"

#include <QByteArray>
#include <QLatin1String>
#include <QStringView>

#include <array>
#include <cstring>
#include <memory>

namespace quorvit {

/// Text encoded as UTF-8 into a bounded buffer that goes to a sink each time it fills, so that a large file
/// is never whole in memory. Each append makes the bytes QString::toUtf8 makes of it (a lone surrogate
/// becomes "?"); a surrogate pair must not be split across two appends.
class Utf8Writer
{
public:
    static constexpr qsizetype kDefaultCapacity = 512 * 1024;

    /// Capacities below 4 (the longest character) are raised to 4.
    explicit Utf8Writer(ByteSink& sink, qsizetype capacity = kDefaultCapacity);
    Utf8Writer(const Utf8Writer&) = delete;
    Utf8Writer& operator=(const Utf8Writer&) = delete;

    /// Text known to be ASCII (markup, numbers), copied as it is.
    void appendAscii(QLatin1String text)
    {
        if (text.size() <= m_capacity - m_used) {
            std::memcpy(m_buffer.get() + m_used, text.data(), size_t(text.size()));
            m_used += text.size();
        } else {
            appendAsciiSlowly(text.data(), text.size());
        }
    }
    void appendAscii(char ch)
    {
        if (m_used == m_capacity)
            flush();
        m_buffer[m_used++] = ch;
    }
    void append(QStringView text) { encode<false>(text, nullptr); }

    /// What some ASCII characters become; the others are kept.
    class AsciiEscapes
    {
    public:
        /// `escape` answers the replacement of each ASCII character, empty for one that is kept.
        explicit AsciiEscapes(QLatin1String (*escape)(char16_t unit));
        QLatin1String operator[](char16_t unit) const { return m_table[unit]; }

    private:
        std::array<QLatin1String, 128> m_table;
    };
    /// The text with each ASCII character that has an entry written as the entry, in the same pass.
    void appendEscaped(QStringView text, const AsciiEscapes& escapes) { encode<true>(text, &escapes); }

    /// Hands what is buffered to the sink. False once the sink refused anything: from then on the
    /// writer drops whatever it is given.
    bool flush();
    bool failed() const { return m_failed; }

private:
    void appendAsciiSlowly(const char* text, qsizetype size);
    template <bool Escaping> void encode(QStringView text, const AsciiEscapes* escapes);

    ByteSink& m_sink;
    const qsizetype m_capacity;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    bool m_failed = false;
};

/// A sink that collects the bytes, for text wanted whole.
class ByteArraySink final : public ByteSink
{
public:
    explicit ByteArraySink(QByteArray& bytes) : m_bytes(bytes) {}
    bool write(const char* data, qsizetype size) override
    {
        m_bytes.append(data, size);
        return true;
    }

private:
    QByteArray& m_bytes;
};

} // namespace quorvit
