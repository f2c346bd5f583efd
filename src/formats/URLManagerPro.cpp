#include "formats/URLManagerPro.h"

#include "formats/FileHead.h"
#include "platform/FileAttributes.h"
#include "platform/StringTable.h"

#include <algorithm>

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
    // The second line, found in the head: the lines are split at carriage returns when the file holds
    // four or more, else at line feeds. A line of ASCII bytes reads the same in either encoding.
    const auto head = FileHead::read(path);
    if (!head)
        return false;
    const char separator = FileHead::hasCarriageReturns(path, 4) ? '\r' : '\n';
    const qsizetype first = head->bytes.indexOf(separator);
    const qsizetype second = first < 0 ? -1 : head->bytes.indexOf(separator, first + 1);
    if (second < 0 && head->whole)
        return false; // fewer than three lines
    if (second >= 0) {
        const QByteArrayView line = QByteArrayView(head->bytes).sliced(first + 1, second - first - 1);
        if (std::all_of(line.begin(), line.end(), [](char ch) { return ch > 0; }))
            return QLatin1String(line.data(), line.size()).compare(kCommentLine, Qt::CaseInsensitive) == 0;
    }
    const auto lines = Netscape::getFileLines(path);
    if (!lines || lines->size() < 3)
        return false;
    return lines->at(1).compare(kCommentLine, Qt::CaseInsensitive) == 0;
}

void URLManagerPro::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"), QStringLiteral("R*ch"));
}
