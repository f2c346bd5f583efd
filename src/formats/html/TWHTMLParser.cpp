#include "formats/html/TWHTMLParser.h"

#include "formats/html/HTMLItemReceiver.h"
#include "formats/html/ParserKeys.h"
#include "model/ItemKeys.h"
#include "platform/QVLog.h"

namespace {

const QString kLogNoScanner = QStringLiteral("Scanner is nil, bailing");

// The value of an attribute, from the text right behind its marker.
QString parseData(QStringView text)
{
    if (text.isEmpty())
        return QString(QLatin1String(""));
    if (text.front() == u'"') {
        const QStringView quoted = text.mid(1);
        const qsizetype close = quoted.indexOf(u'"');
        return (close < 0 ? quoted : quoted.left(close)).toString();
    }
    // A bare flag (marker followed by a space or ">") yields "", which still counts as present.
    qsizetype end = 0;
    while (end < text.size() && text[end] != u' ' && text[end] != u'>')
        ++end;
    return text.left(end).toString();
}

bool isTrailingSpace(QChar ch)
{
    return ch == u' ' || ch == u'\t' || ch == u'\r' || ch == u'\n';
}

} // namespace

std::unique_ptr<TWHTMLParser> TWHTMLParser::initWithPath(const QString& path, bool useUnicode)
{
    std::unique_ptr<TWHTMLParser> parser(new TWHTMLParser());
    parser->m_scanner = TWHTMLScanner::initWithPath(path, parser.get(), useUnicode);
    if (!parser->m_scanner)
        return nullptr;
    return parser;
}

TWHTMLParser::TWHTMLParser(const QString& text) : m_scanner(std::make_unique<TWHTMLScanner>(text, this)) {}

TWHTMLParser::~TWHTMLParser() = default;

bool TWHTMLParser::configureCommands(const QMap<QString, QString>& commands)
{
    m_commands = commands;
    QStringList starting;
    QStringList ending;
    QStringList special;
    auto collect = [&commands](QStringList& list, const QString& key) {
        const auto found = commands.constFind(key);
        if (found != commands.constEnd())
            list.append(found.value());
    };
    collect(starting, ParserKey::NewItem);
    collect(starting, ParserKey::NewFolder);
    collect(ending, ParserKey::EndItemData);
    collect(ending, ParserKey::EndFolderData);
    collect(special, ParserKey::EndFolder);
    collect(special, ParserKey::Comments);
    collect(special, ParserKey::Divider);
    collect(special, ParserKey::OpenFolder);

    m_specialMarkers = special;
    m_commentEnds = CommentEndCache();
    if (m_scanner) {
        m_scanner->setEntryStartingMarkers(starting);
        m_scanner->setEntryEndingMarkers(ending);
        m_scanner->setSpecialMarkers(special);
    }
    return true;
}

bool TWHTMLParser::configureData(const QMap<QString, QString>& data)
{
    m_data = data;
    return true;
}

void TWHTMLParser::setKeepsEntryText(bool keep)
{
    m_keepsEntryText = keep;
    if (m_scanner)
        m_scanner->setEndingMarkersSkipFirstTag(keep);
}

bool TWHTMLParser::parseFileForBrowser(HTMLItemReceiver* browser)
{
    m_parentController = browser;
    if (!m_scanner) {
        QVLog(kLogNoScanner);
        return false;
    }
    m_failed = false;
    for (;;) {
        const QString entry = m_scanner->nextObject();
        // An event of the region just scanned may have been refused already.
        if (m_failed || entry.isNull())
            break;
        // A receiver that asks for the entry's text reads the entry itself and replaces the dictionary.
        QVariantMap item;
        if (m_keepsEntryText)
            item.insert(ParserKey::EntryText, entry);
        else
            item = createDictionaryForString(entry);
        if (!queueNextItem(std::move(item))) {
            m_failed = true;
            break;
        }
    }
    if (!m_failed && m_lastDict) {
        // The last item's refusal fails the read like any other.
        if (!m_parentController || !m_parentController->addItemToBookmarks(*m_lastDict))
            m_failed = true;
    }
    m_lastDict.reset();
    return !m_failed;
}

bool TWHTMLParser::queueNextItem(QVariantMap item)
{
    bool delivered = true;
    if (m_lastDict)
        delivered = m_parentController && m_parentController->addItemToBookmarks(*m_lastDict);
    m_lastDict = std::move(item);
    return delivered;
}

void TWHTMLParser::queueEvent(const QString& key, const QString& value)
{
    if (!queueNextItem(QVariantMap{{key, value}}))
        m_failed = true;
}

void TWHTMLParser::specialMarkerWasFound(const QString& found, QStringView region, qsizetype position)
{
    if (m_failed)
        return;
    // Only the marker exactly as configured counts: "<dd>" is not "<DD>".
    auto is = [this, &found](const QString& key) {
        const auto marker = m_commands.constFind(key);
        return marker != m_commands.constEnd() && !marker.value().isEmpty() && marker.value() == found;
    };
    if (is(ParserKey::Comments)) {
        if (m_lastDict)
            m_lastDict->insert(ItemKey::Comments, commentAt(region, position + found.size()));
    } else if (is(ParserKey::EndFolder)) {
        queueEvent(ParserKey::EndFolder, ParserKey::EndFolderValue);
    } else if (is(ParserKey::Divider)) {
        queueEvent(ParserKey::Divider, ParserKey::DividerValue);
    } else if (is(ParserKey::OpenFolder)) {
        queueEvent(ParserKey::OpenFolder, ParserKey::OpenFolderValue);
    }
}

QString TWHTMLParser::commentAt(QStringView region, qsizetype start)
{
    start = std::min(start, region.size());
    CommentEndCache& cache = m_commentEnds;
    if (cache.data != region.data() || cache.size != region.size() || start < cache.from) {
        cache.data = region.data();
        cache.size = region.size();
        cache.next.assign(m_specialMarkers.size(), -2);
    }
    cache.from = start;

    // The comment ends where the next marker (an end of folder, a divider, another comment) begins, so
    // that markup following it never becomes part of it.
    qsizetype end = region.size();
    for (qsizetype i = 0; i < m_specialMarkers.size(); ++i) {
        const QString& marker = m_specialMarkers.at(i);
        if (marker.isEmpty())
            continue;
        qsizetype& next = cache.next[i];
        if (next != -1 && next < start)
            next = TWHTMLScanner::indexOfMarker(region, marker, start);
        if (next >= 0 && next < end)
            end = next;
    }
    // Writers end each comment with their own line end; dropping it keeps comments stable across
    // read and write.
    while (end > start && isTrailingSpace(region[end - 1]))
        --end;
    return region.mid(start, end - start).toString();
}

QVariantMap TWHTMLParser::createDictionaryForString(const QString& entry) const
{
    QVariantMap dict;
    // Attributes live in the tag; the name follows its last ">". A name that merely reads like an
    // attribute ("… SHORTCUTURL=x") must not set one.
    const qsizetype lastTag = entry.lastIndexOf(QLatin1Char('>'));
    for (auto it = m_data.cbegin(); it != m_data.cend(); ++it) {
        const QString& marker = it.value();
        if (marker.isEmpty())
            continue;
        const qsizetype found = entry.indexOf(marker);
        if (found >= 0 && (lastTag < 0 || found < lastTag))
            dict.insert(it.key(), parseData(QStringView(entry).mid(found + marker.size())));
    }
    if (!dict.contains(ItemKey::Name)) {
        if (lastTag >= 0)
            dict.insert(ItemKey::Name, entry.mid(lastTag + 1));
    }
    return dict;
}
