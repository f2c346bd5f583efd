#include "formats/plist/XmlPlist.h"

#include "platform/PropertyList.h"

#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cstring>

namespace {
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// The length of the entity at `at` when it is one of XML's five, 0 otherwise.
qsizetype basicEntityLength(const char* at, const char* end)
{
    for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
        const qsizetype length = qsizetype(std::strlen(entity));
        if (end - at >= length && std::memcmp(at, entity, size_t(length)) == 0)
            return length;
    }
    return 0;
}

char basicEntityChar(const char* at)
{
    switch (at[1]) {
    case 'a':
        return at[2] == 'm' ? '&' : '\'';
    case 'l':
        return '<';
    case 'g':
        return '>';
    default:
        return '"';
    }
}

/// One element alone through the general reader.
std::optional<QVariant> decodeAlone(const char* tag, QByteArrayView text)
{
    QByteArray document("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<");
    document.append(tag).append('>').append(text).append("</").append(tag).append(">\n</plist>\n");
    return quorvit::plist::fromData(document);
}
} // namespace

class XmlPlist::Parser
{
public:
    explicit Parser(XmlPlist& plist)
        : m_plist(plist), m_at(plist.m_bytes.constData()), m_begin(m_at), m_end(m_at + plist.m_bytes.size())
    {}

    bool run()
    {
        skipSpace();
        // The prologue's parts end at the first marker outside quotes; quotes must pair up.
        if (startsWith("<?xml")) {
            const char* close = find("?>");
            if (!close || !quotesPair(m_at, close))
                return false;
            m_at = close + 2;
            skipSpace();
        }
        if (startsWith("<!DOCTYPE")) {
            // A plain declaration: no internal subset, nothing nested.
            const char* close = m_at;
            bool quoted = false;
            while (close < m_end && (quoted || *close != '>')) {
                if (*close == '"')
                    quoted = !quoted;
                else if (*close == '[' || (*close == '<' && close != m_at))
                    return false;
                ++close;
            }
            if (close == m_end)
                return false;
            m_at = close + 1;
            skipSpace();
        }
        if (!take("<plist>") && !take("<plist version=\"1.0\">"))
            return false;
        if (!elements())
            return false;
        skipSpace();
        if (!take("</plist>"))
            return false;
        skipSpace();
        return m_at == m_end;
    }

private:
    struct Open
    {
        Object node;
        bool dict;
        bool wantsValue; // a key was read, its value not yet
    };

    static bool quotesPair(const char* from, const char* to) { return std::count(from, to, '"') % 2 == 0; }
    void skipSpace()
    {
        while (m_at < m_end && isSpace(*m_at))
            ++m_at;
    }
    bool startsWith(const char* text) const
    {
        const size_t length = std::strlen(text);
        return size_t(m_end - m_at) >= length && std::memcmp(m_at, text, length) == 0;
    }
    bool take(const char* text)
    {
        if (!startsWith(text))
            return false;
        m_at += std::strlen(text);
        return true;
    }
    const char* find(const char* text) const
    {
        const QByteArrayView rest(m_at, m_end - m_at);
        const qsizetype found = rest.indexOf(QByteArrayView(text));
        return found < 0 ? nullptr : m_at + found;
    }

    Object add(Kind kind, const char* text = nullptr, qsizetype length = 0, bool entity = false)
    {
        const Object index = Object(m_plist.m_nodes.size());
        m_plist.m_nodes.push_back(
            Node{kind, entity, quint32(text ? text - m_begin : 0), quint32(length), index + 1});
        return index;
    }

    /// The text up to the closing tag, which must follow it at once; nothing when it holds markup.
    std::optional<QByteArrayView> textUntil(const char* closing, bool* entity, bool* unusual)
    {
        const char* start = m_at;
        const char* lt = static_cast<const char*>(std::memchr(m_at, '<', size_t(m_end - m_at)));
        if (!lt)
            return std::nullopt;
        m_at = lt;
        if (!take(closing))
            return std::nullopt;
        *entity = false;
        *unusual = false;
        for (const char* c = start; c < lt; ++c) {
            if (*c == '&') {
                *entity = true;
                if (!basicEntityLength(c, lt))
                    *unusual = true;
            }
        }
        return QByteArrayView(start, lt - start);
    }

    bool elements()
    {
        std::vector<Open> open;
        bool rootDone = false;
        while (!rootDone) {
            skipSpace();
            if (m_at >= m_end || *m_at != '<')
                return false;
            if (startsWith("</")) {
                if (open.empty() || open.back().wantsValue)
                    return false;
                if (!take(open.back().dict ? "</dict>" : "</array>"))
                    return false;
                m_plist.m_nodes[open.back().node].end = Object(m_plist.m_nodes.size());
                open.pop_back();
                if (open.empty())
                    rootDone = true;
                else
                    open.back().wantsValue = false;
                continue;
            }
            const char* nameStart = m_at + 1;
            const char* close =
                static_cast<const char*>(std::memchr(nameStart, '>', size_t(m_end - nameStart)));
            if (!close)
                return false;
            const QByteArrayView name(nameStart, close - nameStart);
            m_at = close + 1;

            const bool inDict = !open.empty() && open.back().dict;
            if (name == "key") {
                if (!inDict || open.back().wantsValue)
                    return false;
                bool entity = false;
                bool unusual = false;
                const auto text = textUntil("</key>", &entity, &unusual);
                if (!text || unusual)
                    return false;
                add(Key, text->data(), text->size(), entity);
                open.back().wantsValue = true;
                continue;
            }
            // Anything else is a value: the top one a dictionary, one in a dictionary after its key.
            if (open.empty() ? (name != "dict" && name != "dict/") : (inDict && !open.back().wantsValue))
                return false;
            if (name == "dict" || name == "array") {
                if (open.size() + 2 >= size_t(quorvit::plist::kMaxNestingDepth))
                    return false;
                open.push_back(Open{add(name == "dict" ? Dict : Array), name == "dict", false});
                continue;
            }
            if (name == "dict/" || name == "array/") {
                add(name == "dict/" ? Dict : Array);
                if (open.empty())
                    rootDone = true;
            } else if (name == "true/" || name == "false/") {
                add(name == "true/" ? True : False);
            } else if (name == "string/") {
                add(String);
            } else if (name == "string") {
                bool entity = false;
                bool unusual = false;
                const auto text = textUntil("</string>", &entity, &unusual);
                if (!text)
                    return false;
                const Object node = add(String, text->data(), text->size(), entity);
                if (unusual && !decode(node, "string", *text))
                    return false;
            } else if (name == "integer" || name == "real" || name == "date" || name == "data") {
                const QByteArray tag = name.toByteArray();
                bool entity = false;
                bool unusual = false;
                const QByteArray closing = "</" + tag + ">";
                const auto text = textUntil(closing.constData(), &entity, &unusual);
                if (!text || !decode(add(Other), tag.constData(), *text))
                    return false;
            } else {
                return false;
            }
            if (!open.empty())
                open.back().wantsValue = false;
        }
        return true;
    }

    bool decode(Object node, const char* tag, QByteArrayView text)
    {
        const auto value = decodeAlone(tag, text);
        if (!value)
            return false;
        m_plist.m_decoded.insert(node, *value);
        return true;
    }

    XmlPlist& m_plist;
    const char* m_at;
    const char* m_begin;
    const char* m_end;
};

std::optional<XmlPlist> XmlPlist::open(QByteArray bytes)
{
    // Offsets are kept in 32 bits; NUL is refused by the general reader, with its reason.
    if (bytes.isEmpty() || bytes.size() > 0x7fffffff || bytes.contains('\0'))
        return std::nullopt;
    XmlPlist plist;
    plist.m_bytes = std::move(bytes);
    if (!Parser(plist).run())
        return std::nullopt;
    plist.m_nodes.shrink_to_fit();
    return plist;
}

QString XmlPlist::text(const Node& node) const
{
    if (node.length == 0)
        return QString::fromUtf8("");
    const char* start = m_bytes.constData() + node.begin;
    if (!node.hasEntity)
        return QString::fromUtf8(start, qsizetype(node.length));
    QByteArray plain;
    plain.reserve(node.length);
    const char* end = start + node.length;
    for (const char* c = start; c < end; ++c) {
        if (*c == '&') {
            plain.append(basicEntityChar(c));
            c += basicEntityLength(c, end) - 1;
        } else {
            plain.append(*c);
        }
    }
    return QString::fromUtf8(plain);
}

bool XmlPlist::keyMatches(const Node& name, QStringView key) const
{
    const char* bytes = m_bytes.constData() + name.begin;
    bool ascii = !name.hasEntity;
    for (quint32 i = 0; i < name.length && ascii; ++i)
        ascii = uchar(bytes[i]) < 0x80;
    // Anything beyond plain ASCII is compared as the text a map would hold.
    if (!ascii)
        return text(name) == key;
    if (qsizetype(name.length) != key.size())
        return false;
    for (quint32 i = 0; i < name.length; ++i) {
        if (uchar(bytes[i]) != key[i].unicode())
            return false;
    }
    return true;
}

bool XmlPlist::sameKey(const Node& a, const Node& b) const
{
    return a.length == b.length &&
           std::memcmp(m_bytes.constData() + a.begin, m_bytes.constData() + b.begin, a.length) == 0;
}

std::optional<XmlPlist::Object> XmlPlist::value(Object dict, QStringView key) const
{
    if (!isDict(dict))
        return std::nullopt;
    // The general reader keeps one entry per key as written, at its first place with its last value;
    // keys written differently may still read as the same text, and then the later entry wins.
    struct Entry
    {
        Object key;
        Object value;
    };
    std::vector<Entry> matches;
    for (Object child = dict + 1; child < m_nodes[dict].end; child = m_nodes[child + 1].end) {
        if (!keyMatches(m_nodes[child], key))
            continue;
        auto same = std::find_if(matches.begin(), matches.end(), [&](const Entry& entry) {
            return sameKey(m_nodes[entry.key], m_nodes[child]);
        });
        if (same != matches.end())
            same->value = child + 1;
        else
            matches.push_back(Entry{child, child + 1});
    }
    if (matches.empty())
        return std::nullopt;
    return matches.back().value;
}

QString XmlPlist::string(Object object) const
{
    if (!isString(object))
        return QString();
    if (const auto decoded = m_decoded.constFind(object); decoded != m_decoded.constEnd())
        return decoded->toString();
    return text(m_nodes[object]);
}

QVariant XmlPlist::variant(Object object) const
{
    const Node& node = m_nodes[object];
    switch (node.kind) {
    case Dict: {
        // Entries as the general reader keeps them: one per key as written, first place, last value.
        std::vector<std::pair<Object, Object>> entries;
        QHash<QByteArrayView, qsizetype> placeOf;
        for (Object child = object + 1; child < node.end; child = m_nodes[child + 1].end) {
            const QByteArrayView name(m_bytes.constData() + m_nodes[child].begin, m_nodes[child].length);
            const auto place = placeOf.constFind(name);
            if (place != placeOf.constEnd()) {
                entries[size_t(*place)].second = child + 1;
            } else {
                placeOf.insert(name, qsizetype(entries.size()));
                entries.emplace_back(child, child + 1);
            }
        }
        QVariantMap map;
        for (const auto& [key, value] : entries)
            map.insert(text(m_nodes[key]), variant(value));
        return QVariant(map);
    }
    case Array: {
        QVariantList list;
        forEachElement(object, [&](Object element) { list.append(variant(element)); });
        return QVariant(list);
    }
    case String:
        return QVariant(string(object));
    case True:
    case False:
        return QVariant(node.kind == True);
    default:
        return m_decoded.value(object);
    }
}
