#include "formats/URLManagerPro.h"

#include "platform/FileAttributes.h"
#include "platform/StringTable.h"

const QString URLManagerPro::kCommentLine =
    QStringLiteral("<!-- Created by URL Manager Pro - http://www.url-manager.com/ -->");

URLManagerPro::URLManagerPro(const QString& path) : Netscape(path)
{
    m_browserName = QVLocalized(QStringLiteral("URLManagerPro"));
}

std::unique_ptr<QVBrowser> URLManagerPro::initWithPath(const QString& path)
{
    return std::make_unique<URLManagerPro>(path);
}

bool URLManagerPro::isValidFile(const QString& path)
{
    // Files copied to this system usually carry no creator code at all; only a different one rules out.
    quorvit::TypeCreator codes;
    if (quorvit::readTypeAndCreator(path, &codes) && !codes.creator.isEmpty() &&
        codes.creator != QLatin1String("R*ch"))
        return false;
    const auto lines = Netscape::getFileLines(path);
    if (!lines || lines->size() < 3)
        return false;
    return lines->at(1).compare(kCommentLine, Qt::CaseInsensitive) == 0;
}

void URLManagerPro::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"), QStringLiteral("R*ch"));
}
