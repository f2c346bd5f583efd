#pragma once

#include <QAnyStringView>
#include <QDateTime>
#include <QString>
#include <QVariantMap>

/// Pieces shared by the Internet Explorer and iCab adapters.
namespace BookmarkHTML {

// Attribute keys of Internet Explorer's subscription and visit attributes.
inline const QString VisitationCountKey = QStringLiteral("VisitationCountKey");
inline const QString SubscriptionActiveKey = QStringLiteral("SubscriptionActiveKey");

/// The date texts under the last-visit, creation and last-update keys turned into dates (seconds since
/// 1970, UTC); a text that is not a number above 0 removes its key.
void convertDateStrings(QVariantMap& item);

/// A date attribute's text as a number, as QString::toDouble reads it after trimming white space.
double secondsValue(QAnyStringView text, bool* ok);

/// Seconds since 1970 as written in bookmark HTML: up to 16 significant digits, no trailing zeros.
QString formatDate(const QDateTime& date);
/// The same, written into `out` (ASCII, not terminated); answers its length.
qsizetype formatDate(const QDateTime& date, char (&out)[32]);

/// The address as a quoted attribute value. A double quote, "<", ">" or a line end would end the value or
/// start markup, and a space could start something that reads as another attribute (" ADD_DATE="); they
/// are percent-encoded, as an address needs them to be anyway.
QString attributeAddress(const QString& address);

/// The leading integer of a text, as the files' numeric attributes are read: leading white space and a
/// sign allowed, stops at the first other character, 0 without digits, clamped to the int range.
int intValue(const QString& text);

} // namespace BookmarkHTML
