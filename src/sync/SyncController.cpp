#include "sync/SyncController.h"

#include "formats/html/HTMLEscapeConverter.h"
#include "model/BookmarkEnumerator.h"
#include "model/QVBookmark.h"

namespace {
template <typename Visit> void forEachItem(const QVFolderPtr& folder, Visit visit)
{
    if (!folder)
        return;
    for (const QVItemPtr& item : BookmarkEnumerator(folder).allObjects())
        visit(*item);
}
} // namespace

void SyncController::convertHighASCIICharactersToHTMLInFolder(const QVFolderPtr& folder)
{
    const HTMLEscapeConverter& converter = HTMLEscapeConverter::sharedInstance();
    auto encoded = [&](const QString& text) {
        return converter.containsHighASCIIChar(text) ? converter.convertHighASCIIFromString(text, true, true)
                                                     : QString();
    };
    forEachItem(folder, [&](QVItem& item) {
        item.setHTMLName(encoded(item.name()));
        if (item.isBookmark()) {
            auto& bookmark = static_cast<QVBookmark&>(item);
            bookmark.setHTMLComments(encoded(bookmark.comments()));
        }
    });
}

void SyncController::convertHTMLEscapeCharactersInFolder(const QVFolderPtr& folder)
{
    const HTMLEscapeConverter& converter = HTMLEscapeConverter::sharedInstance();
    forEachItem(folder, [&](QVItem& item) {
        if (item.name().contains(QLatin1Char('&')))
            item.setName(converter.convertHTMLFromString(item.name()));
        if (item.isBookmark()) {
            auto& bookmark = static_cast<QVBookmark&>(item);
            if (bookmark.comments().contains(QLatin1Char('&')))
                bookmark.setComments(converter.convertHTMLFromString(bookmark.comments()));
        }
    });
}

bool SyncController::isIllegalCharacter(char32_t codePoint)
{
    // Zero-width joiners hold emoji sequences and scripts together; turning them into spaces
    // would break the very names this pass is meant to clean.
    if (codePoint == 0x200C || codePoint == 0x200D)
        return false;
    if ((codePoint >= 0xFDD0 && codePoint <= 0xFDEF) || (codePoint & 0xFFFE) == 0xFFFE)
        return true; // non-characters
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
        return true; // a surrogate standing alone
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

bool SyncController::stripCharacterSet(const std::function<bool(char32_t)>& isMember, QString& text)
{
    bool replaced = false;
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        char32_t codePoint = unit.unicode();
        qsizetype width = 1;
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1));
            width = 2;
        }
        if (isMember(codePoint)) {
            if (!replaced) {
                result = text.left(i);
                replaced = true;
            }
            result += QLatin1Char(' ');
        } else if (replaced) {
            result += text.mid(i, width);
        }
        i += width - 1;
    }
    if (replaced)
        text = result;
    return replaced;
}

void SyncController::stripIllegalCharactersInFolder(const QVFolderPtr& folder)
{
    forEachItem(folder, [](QVItem& item) {
        if (item.isDivider())
            return;
        QString name = item.name();
        if (stripCharacterSet(&SyncController::isIllegalCharacter, name))
            item.setName(name);
        if (item.isBookmark()) {
            auto& bookmark = static_cast<QVBookmark&>(item);
            QString comments = bookmark.comments();
            if (stripCharacterSet(&SyncController::isIllegalCharacter, comments))
                bookmark.setComments(comments);
        }
    });
}
