#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

/// The two files the maker's server publishes about the newest version, and the running version.
namespace UpdateFiles {

struct Version
{
    qlonglong major = 0;
    qlonglong minor = 0;
    qlonglong point = 0;
    qlonglong beta = 0;
    QString toString() const;
};

/// The version of this build.
inline constexpr Version kCurrentVersion{3, 7, 5, 0};

/// Greater than the running version, compared part by part.
bool isNewerThanCurrent(const Version& version);

/// The version file: a property-list dictionary (text or XML form) whose four values are read as
/// decimal integers. Anything unreadable counts as 0, so a broken file never announces an update.
Version parseVersionFile(const QByteArray& data);

struct Description
{
    QString text;
    QString urlPath;
};

/// The description in the first preferred language that has one, else "english", else empty; the
/// download address from "URLPath" when it is an http(s) address, else the default one.
Description parseDescriptionFile(const QByteArray& data, const QStringList& preferredLanguages);

/// The user's languages as the description file names them ("german", "de", …), most preferred first.
QStringList systemLanguageKeys();

/// Parses property-list bytes in XML, binary or the old text form ({ key = value; }). Null when none.
std::optional<QVariant> parsePropertyList(const QByteArray& data);

inline const QString VersionFilePath = QStringLiteral("/quorvit/update.txt");
inline const QString DescriptionFilePath = QStringLiteral("/quorvit/description.txt");
inline const QString DefaultServerURL = QStringLiteral("https://www.tarnwell.example");
QString defaultDownloadURL();

/// The server's address with one of the fixed paths.
QString fileURL(const QString& serverURL, const QString& path);

} // namespace UpdateFiles
