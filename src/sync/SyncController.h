#pragma once

#include "model/QVFolder.h"

#include <QString>

#include <functional>

/// The sync engine. For now it holds the tree-wide character passes that run on every tree a
/// comparison reads and on every tree about to be written.
class SyncController
{
public:
    /// Before writing: each item's HTMLName (and each bookmark's HTMLComments) becomes the fully
    /// escaped form of its name (comments) when that holds characters needing escaping, else null.
    static void convertHighASCIICharactersToHTMLInFolder(const QVFolderPtr& folder);
    /// After reading: names, and comments of bookmarks, holding "&" are replaced by their decoded form.
    static void convertHTMLEscapeCharactersInFolder(const QVFolderPtr& folder);
    /// After reading: control and non-characters in names and comments become spaces. Dividers are left
    /// alone.
    static void stripIllegalCharactersInFolder(const QVFolderPtr& folder);

    /// Replaces every character the predicate accepts by one space (a surrogate pair counts as one
    /// character). Returns true if anything was replaced.
    static bool stripCharacterSet(const std::function<bool(char32_t)>& isMember, QString& text);
    /// The set stripIllegalCharactersInFolder removes.
    static bool isIllegalCharacter(char32_t codePoint);
};
