#include "linkcheck/LinkCheckSettings.h"

#include "platform/UserDefaults.h"

#include <QtGlobal>

#include <algorithm>

namespace {
QString environmentValue(const char* lower, const char* upper)
{
    QString value = qEnvironmentVariable(lower).trimmed();
    if (value.isEmpty())
        value = qEnvironmentVariable(upper).trimmed();
    return value;
}
} // namespace

LinkCheckSettings LinkCheckSettings::fromEnvironment()
{
    LinkCheckSettings settings;
    const QString anyProxy = environmentValue("all_proxy", "ALL_PROXY");
    settings.httpProxy = environmentValue("http_proxy", "HTTP_PROXY");
    settings.httpsProxy = environmentValue("https_proxy", "HTTPS_PROXY");
    if (settings.httpProxy.isEmpty())
        settings.httpProxy = anyProxy;
    if (settings.httpsProxy.isEmpty())
        settings.httpsProxy = anyProxy;
    return settings;
}

QString LinkCheckSettings::proxyFor(const QString& address) const
{
    return address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ? httpsProxy : httpProxy;
}

int LinkCheckPreference::concurrentChecks(const quorvit::UserDefaults& defaults)
{
    const QVariant stored = defaults.objectForKey(ConcurrentChecks);
    bool ok = false;
    const int value = stored.toInt(&ok);
    if (!stored.isValid() || !ok)
        return kDefaultConcurrentChecks;
    return std::clamp(value, 1, kMaximumConcurrentChecks);
}
