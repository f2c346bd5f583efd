#include "formats/AdapterRegistry.h"

#include "formats/Chimera.h"
#include "formats/Chromium.h"
#include "formats/Explorer.h"
#include "formats/Falkon.h"
#include "formats/ICab.h"
#include "formats/Netscape.h"
#include "formats/OmniWeb.h"
#include "formats/Opera.h"
#include "formats/Places.h"
#include "formats/QuorvitBrowser.h"
#include "formats/Safari.h"
#include "formats/Shiira.h"
#include "formats/URLManagerPro.h"
#include "formats/XBEL.h"

#include <QFileInfo>

namespace {
template <typename Adapter> QString rejectionReason(const QString& path)
{
    if constexpr (requires(QString * reason) { Adapter::isValidFile(path, reason); }) {
        QString reason;
        if (Adapter::isValidFile(path, &reason))
            return QString();
        return reason.isEmpty() ? QStringLiteral("not in this format") : reason.simplified();
    } else {
        return Adapter::isValidFile(path) ? QString() : QStringLiteral("not in this format");
    }
}

template <typename Adapter>
AdapterClass adapterClass(const char* id, const char* className,
                          bool (*headRulesOut)(const QString&, const FileHead::Head&) = nullptr)
{
    return AdapterClass{QLatin1String(id),
                        QLatin1String(className),
                        [](const QString& path) { return Adapter::isValidFile(path); },
                        &rejectionReason<Adapter>,
                        &Adapter::initWithPath,
                        &Adapter::writeBookmarksToLocation,
                        &Adapter::setFileAttributesAtPath,
                        headRulesOut};
}

bool isSpaceByte(char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// Whether the head shows that the property-list reader refuses the file: it is not binary, and before any
// element there is text, or the first element is none of a property list's. The XML declaration, comments
// and a DOCTYPE without an internal subset come before it. Whatever the head cannot settle is left open.
bool headRulesOutPropertyList(const QString&, const FileHead::Head& head)
{
    const QByteArrayView bytes(head.bytes);
    if (bytes.startsWith("bplist"))
        return false;
    qsizetype i = 0;
    for (;;) {
        while (i < bytes.size() && isSpaceByte(bytes[i]))
            ++i;
        if (i >= bytes.size())
            return false;
        if (bytes[i] != '<')
            return true;
        const QByteArrayView rest = bytes.sliced(i);
        qsizetype end = -1;
        if (rest.startsWith("<?")) {
            end = rest.indexOf("?>", 2);
            i += end + 2;
        } else if (rest.startsWith("<!--")) {
            end = rest.indexOf("-->", 4);
            i += end + 3;
        } else if (rest.startsWith("<!DOCTYPE")) {
            end = rest.indexOf('>');
            const qsizetype subset = rest.indexOf('[');
            if (subset >= 0 && subset < end)
                return false;
            i += end + 1;
        } else if (rest.startsWith("<!")) {
            return false;
        } else {
            qsizetype nameEnd = 1;
            while (nameEnd < rest.size() && !isSpaceByte(rest[nameEnd]) && rest[nameEnd] != '>' &&
                   rest[nameEnd] != '/')
                ++nameEnd;
            if (nameEnd >= rest.size() || nameEnd == 1)
                return false;
            const QLatin1String name(rest.data() + 1, nameEnd - 1);
            for (const char* element : {"plist", "dict", "array", "key", "string", "integer", "real", "true",
                                        "false", "date", "data"}) {
                if (name.compare(QLatin1String(element), Qt::CaseInsensitive) == 0)
                    return false;
            }
            return true;
        }
        if (end < 0)
            return false;
    }
}

bool headRulesOutCaminoFile(const QString& path, const FileHead::Head& head)
{
    // Camino's own place for its file vouches for it, whatever the file holds.
    if (QFileInfo(path).suffix() == QLatin1String("plist") &&
        (path.contains(QLatin1String("Camino")) || path.contains(QLatin1String("Chimera"))))
        return false;
    return headRulesOutPropertyList(path, head);
}

// Whether the head shows the file is no JSON object: after a byte-order mark and white space, not "{".
bool headRulesOutJsonObject(const QString&, const FileHead::Head& head)
{
    QByteArrayView bytes(head.bytes);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    qsizetype i = 0;
    while (i < bytes.size() && isSpaceByte(bytes[i]))
        ++i;
    return i < bytes.size() && bytes[i] != '{';
}
} // namespace

namespace AdapterRegistry {

const QList<AdapterClass>& adapterClasses()
{
    // Choice order: Camino, Internet Explorer, Safari, iCab, Netscape, Opera, OmniWeb, own file,
    // URL Manager Pro, Shiira; then today's formats.
    static const QList<AdapterClass> classes{
        adapterClass<Chimera>("camino", "Chimera", &headRulesOutCaminoFile),
        adapterClass<Explorer>("explorer", "Explorer"),
        adapterClass<Safari>("safari", "Safari", &headRulesOutPropertyList),
        adapterClass<ICab>("icab", "ICab"),
        adapterClass<Netscape>("netscape", "Netscape"),
        adapterClass<Opera>("opera", "Opera"),
        adapterClass<OmniWeb>("omniweb", "OmniWeb"),
        adapterClass<QuorvitBrowser>("quorvit", "QuorvitBrowser"),
        adapterClass<URLManagerPro>("urlmanagerpro", "URLManagerPro"),
        adapterClass<Shiira>("shiira", "Shiira", &headRulesOutPropertyList),
        adapterClass<Places>("places", "Places"),
        adapterClass<Chromium>("chromium", "Chromium", &headRulesOutJsonObject),
        adapterClass<XBEL>("xbel", "XBEL"),
        adapterClass<Falkon>("falkon", "Falkon", &headRulesOutJsonObject),
    };
    return classes;
}

const AdapterClass* adapterClassNamed(const QString& name)
{
    for (const AdapterClass& candidate : adapterClasses()) {
        if (candidate.id.compare(name, Qt::CaseInsensitive) == 0 ||
            candidate.className.compare(name, Qt::CaseInsensitive) == 0)
            return &candidate;
    }
    return nullptr;
}

QStringList adapterNames()
{
    QStringList names;
    for (const AdapterClass& candidate : adapterClasses())
        names.append(candidate.id);
    return names;
}

std::unique_ptr<QVBrowser> adapterForPath(const QString& path, const AdapterClass** chosen, QString* reasons)
{
    // Every class's look at the head comes from this one read.
    const FileHead::Scope scope(path);
    const std::optional<FileHead::Head> head = FileHead::read(path);
    QStringList found;
    QList<std::pair<qsizetype, const AdapterClass*>> ruledOut;
    for (const AdapterClass& candidate : adapterClasses()) {
        if (head && candidate.headRulesOut && candidate.headRulesOut(path, *head)) {
            ruledOut.append({found.size(), &candidate});
            found.append(QString());
            continue;
        }
        const QString reason = candidate.rejectionReason(path);
        if (!reason.isEmpty()) {
            found.append(candidate.id + QLatin1String(": ") + reason);
            continue;
        }
        if (auto adapter = candidate.initWithPath(path)) {
            if (chosen)
                *chosen = &candidate;
            return adapter;
        }
        found.append(candidate.id + QLatin1String(": no adapter could be made"));
    }
    if (reasons) {
        // Nothing fits: the classes ruled out by the head say why in their own words, as they would have.
        for (const auto& [at, candidate] : std::as_const(ruledOut)) {
            const QString reason = candidate->rejectionReason(path);
            found[at] = candidate->id + QLatin1String(": ") +
                        (reason.isEmpty() ? QStringLiteral("not in this format") : reason);
        }
        *reasons = found.join(QLatin1String("; "));
    }
    return nullptr;
}

} // namespace AdapterRegistry
