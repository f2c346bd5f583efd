#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

/// An XML property list read in place: one pass indexes its elements (16 bytes each), and values are
/// decoded from the file's text when asked for. Every value reads exactly as quorvit::plist::fromData
/// gives it.
///
/// Only plain lists are taken on: the usual prologue, a dictionary at the top, elements without
/// attributes, comments or character-data sections, keys without entities. Numbers, dates, data and text
/// with uncommon entities are decoded by the general reader, one element at a time. For anything else
/// open() answers nothing and the caller reads the file the general way.
class XmlPlist
{
public:
    using Object = quint32;

    static std::optional<XmlPlist> open(QByteArray bytes);

    Object top() const { return 0; }

    bool isDict(Object object) const { return m_nodes[object].kind == Dict; }
    bool isArray(Object object) const { return m_nodes[object].kind == Array; }
    bool isString(Object object) const { return m_nodes[object].kind == String; }
    template <class Visit> void forEachElement(Object array, Visit visit) const
    {
        for (Object child = array + 1; child < m_nodes[array].end; child = m_nodes[child].end)
            visit(child);
    }
    /// A dictionary's value for the key; the last one when the key repeats, as a QVariantMap keeps it.
    std::optional<Object> value(Object dict, QStringView key) const;
    /// A string's text; empty for any other value.
    QString string(Object object) const;
    /// The value as quorvit::plist::fromData converts it.
    QVariant variant(Object object) const;

private:
    enum Kind : quint8 { Dict, Array, Key, String, True, False, Other };
    struct Node
    {
        Kind kind;
        bool hasEntity; // text holding "&"
        quint32 begin;  // text, for keys and strings
        quint32 length;
        quint32 end; // the node after this one's subtree
    };
    class Parser;

    XmlPlist() = default;
    QString text(const Node& node) const;
    bool keyMatches(const Node& name, QStringView key) const;
    bool sameKey(const Node& a, const Node& b) const;

    QByteArray m_bytes;
    std::vector<Node> m_nodes;
    /// Elements decoded by the general reader while indexing (numbers, dates, data, unusual text).
    QHash<Object, QVariant> m_decoded;
};
