// Feeds arbitrary bytes, decoded as a bookmark file is, through the HTML parser with the Netscape markers.
#include "formats/html/HTMLItemReceiver.h"
#include "formats/html/ParserKeys.h"
#include "formats/html/TWHTMLParser.h"
#include "formats/html/TWHTMLScanner.h"
#include "model/ItemKeys.h"
#include "platform/QVLog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

class AcceptAll : public HTMLItemReceiver
{
public:
    bool addItemToBookmarks(QVariantMap& item) override
    {
        // Every entry and event yields a non-empty dictionary, except an entry without attributes or ">".
        count += item.isEmpty() ? 0 : 1;
        return true;
    }
    long count = 0;
};

const QMap<QString, QString>& commands()
{
    static const QMap<QString, QString> table = {{ParserKey::NewItem, QStringLiteral("<DT>")},
                                                 {ParserKey::EndItemData, QStringLiteral("</A>\n")},
                                                 {ParserKey::EndFolderData, QStringLiteral("</H3>")},
                                                 {ParserKey::EndFolder, QStringLiteral("</DL>")},
                                                 {ParserKey::Comments, QStringLiteral("<DD>")},
                                                 {ParserKey::Divider, QStringLiteral("<HR>")}};
    return table;
}

const QMap<QString, QString>& data()
{
    static const QMap<QString, QString> table = {
        {ItemKey::Address, QStringLiteral(" HREF=")},
        {ItemKey::CreationDate, QStringLiteral(" ADD_DATE=")},
        {ItemKey::LastVisit, QStringLiteral(" LAST_VISIT=")},
        {ItemKey::LastUpdate, QStringLiteral(" LAST_MODIFIED=")},
        {ParserKey::ObjectType, QStringLiteral(" ID=")},
        {ParserKey::UpdateScheduleTime, QStringLiteral(" SCHEDULE=")},
        {ParserKey::TabbedGroup, QStringLiteral(" FOLDER_GROUP=")},
        {ParserKey::FolderMarker, QStringLiteral("<H3")},
        {ParserKey::ToolbarFolder, QStringLiteral(" PERSONAL_TOOLBAR_FOLDER=")},
        {ItemKey::Keyword, QStringLiteral(" SHORTCUTURL=")},
        {ItemKey::RSSFeedURL, QStringLiteral(" FEEDURL=")},
        {QStringLiteral("FF_FavIcon"), QStringLiteral(" ICON=")}};
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool quiet = [] {
        quorvit::setLogToStandardError(false);
        return true;
    }();
    (void)quiet;

    const QByteArray fileData(reinterpret_cast<const char*>(bytes), qsizetype(size));
    TWHTMLParser parser(TWHTMLScanner::decodeFileData(fileData, true));
    parser.configureCommands(commands());
    parser.configureData(data());
    AcceptAll receiver;
    // A receiver that accepts everything must never see the parse fail.
    if (!parser.parseFileForBrowser(&receiver)) {
        std::fprintf(stderr, "parse failed although every item was accepted\n");
        std::abort();
    }
    return 0;
}
