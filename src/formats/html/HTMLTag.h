#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

/// One attribute of a tag, its value as written (character references not decoded).
struct HTMLAttribute
{
    QString name;
    QString value;
    /// Written without "=" and value (a flag such as FOLDED).
    bool bare = false;
};

/// An opening tag read the way browsers read one: names are matched case-insensitively, values may be
/// quoted with either quote (a ">" inside quotes does not end the tag) or bare, and any white space
/// separates attributes.
struct HTMLTag
{
    QString name;
    QList<HTMLAttribute> attributes;
    /// Position right behind the closing ">".
    qsizetype end = 0;

    /// Index of the first attribute of that name (any case), or -1.
    qsizetype indexOf(QLatin1String attribute) const;
    bool is(QLatin1String tagName) const { return name.compare(tagName, Qt::CaseInsensitive) == 0; }

    /// Reads the tag whose "<" is at `position`. No value when there is no tag name there or the tag
    /// (or a quoted value) never closes.
    static std::optional<HTMLTag> read(QStringView text, qsizetype position);
    /// Position behind the ">" of the tag at `position`, or -1 as for read().
    static qsizetype endOf(QStringView text, qsizetype position);
};
