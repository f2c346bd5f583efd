#pragma once

#include <QString>

namespace quorvit {
class UserDefaults;
}

/// How the link checker runs curl and how many checks it runs at once.
struct LinkCheckSettings
{
    QString curlPath = QStringLiteral("/usr/bin/curl");
    /// Seconds allowed to make the connection.
    int connectTimeout = 50;
    /// Seconds allowed for the whole exchange, so one stalled server cannot hold a run for ever.
    int maxTime = 30;
    /// Proxies for http and https addresses; empty for a direct connection.
    QString httpProxy;
    QString httpsProxy;

    /// The defaults with the proxies from http_proxy and https_proxy (or their upper-case forms), each
    /// falling back to all_proxy. no_proxy keeps its effect: curl reads it itself.
    static LinkCheckSettings fromEnvironment();
    /// The proxy for an address, by its scheme; empty when none is set.
    QString proxyFor(const QString& address) const;
};

namespace LinkCheckPreference {
/// Number of checks run at once (1 checks one address after another).
inline const QString ConcurrentChecks = QStringLiteral("LinkCheckConcurrentChecks");
constexpr int kDefaultConcurrentChecks = 8;
constexpr int kMaximumConcurrentChecks = 64;
/// Checks of one host at a time, so a run never floods a server.
constexpr int kChecksPerHost = 2;

/// The stored number of checks at once, within 1 and kMaximumConcurrentChecks.
int concurrentChecks(const quorvit::UserDefaults& defaults);
} // namespace LinkCheckPreference
