#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

/// A binary property list read in place: values are decoded from the file's bytes when asked for, without
/// building a tree of the whole list first. Every value reads exactly as quorvit::plist::fromData gives
/// it.
///
/// Only plain, well-formed lists whose top object is a dictionary are taken on (arrays, dictionaries with
/// ASCII keys, no container reached twice, the usual scalar kinds); for anything else open() answers
/// nothing and the caller reads the file the general way, which also gives the reasons for refusals.
class BinaryPlist
{
public:
    using Object = quint64;

    static std::optional<BinaryPlist> open(QByteArray bytes);

    Object top() const { return m_top; }

    bool isDict(Object object) const { return marker(object) >> 4 == 0xD; }
    bool isArray(Object object) const { return marker(object) >> 4 == 0xA; }
    bool isString(Object object) const;
    /// Calls `visit` with each element of the array.
    template <class Visit> void forEachElement(Object array, Visit visit) const
    {
        const Extent elements = extent(array);
        for (quint64 i = 0; i < elements.count; ++i)
            visit(reference(elements.payload + i * m_refSize));
    }
    /// A dictionary's value for the key; the last one when the key repeats, as a QVariantMap keeps it.
    std::optional<Object> value(Object dict, QStringView key) const;
    /// A string's text; empty for any other value.
    QString string(Object object) const;
    /// The value as quorvit::plist::fromData converts it.
    QVariant variant(Object object) const;

private:
    struct Extent
    {
        quint64 count = 0;   // elements, entries, characters or bytes
        quint64 payload = 0; // where they start
    };

    BinaryPlist() = default;
    bool validate();
    quint64 offset(Object object) const;
    uchar marker(Object object) const;
    Extent extent(Object object) const;
    Object reference(quint64 at) const;
    bool keyEquals(Object key, QStringView text) const;
    /// One scalar decoded by the general reader, for the kinds not decoded here.
    std::optional<QVariant> decodeAlone(Object object) const;

    QByteArray m_bytes;
    const uchar* m_data = nullptr;
    quint64 m_tableOffset = 0;
    quint64 m_objectCount = 0;
    unsigned m_offsetSize = 0;
    unsigned m_refSize = 0;
    Object m_top = 0;
    /// Scalars decoded by the general reader while checking the list (dates, reals, data, unusual text).
    QHash<Object, QVariant> m_decoded;
};
