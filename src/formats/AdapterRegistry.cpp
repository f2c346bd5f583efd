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

template <typename Adapter> AdapterClass adapterClass(const char* id, const char* className)
{
    return AdapterClass{QLatin1String(id),
                        QLatin1String(className),
                        [](const QString& path) { return Adapter::isValidFile(path); },
                        &rejectionReason<Adapter>,
                        &Adapter::initWithPath,
                        &Adapter::writeBookmarksToLocation,
                        &Adapter::setFileAttributesAtPath};
}
} // namespace

namespace AdapterRegistry {

const QList<AdapterClass>& adapterClasses()
{
    // Choice order: Camino, Internet Explorer, Safari, iCab, Netscape, Opera, OmniWeb, own file,
    // URL Manager Pro, Shiira; then today's formats.
    static const QList<AdapterClass> classes{
        adapterClass<Chimera>("camino", "Chimera"),
        adapterClass<Explorer>("explorer", "Explorer"),
        adapterClass<Safari>("safari", "Safari"),
        adapterClass<ICab>("icab", "ICab"),
        adapterClass<Netscape>("netscape", "Netscape"),
        adapterClass<Opera>("opera", "Opera"),
        adapterClass<OmniWeb>("omniweb", "OmniWeb"),
        adapterClass<QuorvitBrowser>("quorvit", "QuorvitBrowser"),
        adapterClass<URLManagerPro>("urlmanagerpro", "URLManagerPro"),
        adapterClass<Shiira>("shiira", "Shiira"),
        adapterClass<Places>("places", "Places"),
        adapterClass<Chromium>("chromium", "Chromium"),
        adapterClass<XBEL>("xbel", "XBEL"),
        adapterClass<Falkon>("falkon", "Falkon"),
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
    QStringList found;
    for (const AdapterClass& candidate : adapterClasses()) {
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
    if (reasons)
        *reasons = found.join(QLatin1String("; "));
    return nullptr;
}

} // namespace AdapterRegistry
