#pragma once

#include "formats/Netscape.h"

/// URL Manager Pro's export: the Netscape dialect with its own comment line; read and written as Netscape.
class URLManagerPro : public Netscape
{
public:
    /// The comment URL Manager Pro writes as the second line of its export.
    static const QString kCommentLine;

    explicit URLManagerPro(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    static bool isValidFile(const QString& path);
    /// "TEXT" / "R*ch": used when a backup of such a file is put back.
    static void setFileAttributesAtPath(const QString& path);
};
