// The streaming property-list writer and the in-place binary reader against the general libplist path:
// the same bytes out, the same values in.
#include "formats/DefaultBrowser.h"
#include "formats/Safari.h"
#include "formats/plist/BinaryPlist.h"
#include "formats/plist/PlistFile.h"
#include "formats/plist/PlistXmlWriter.h"
#include "formats/plist/XMLConverter.h"
#include "formats/plist/XmlPlist.h"
#include "platform/PropertyList.h"
#include "support/TestSupport.h"

#include "PlistTestHelpers.h"

#include <QPoint>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>

#include <gtest/gtest.h>

using namespace plisttest;
using namespace testsupport;
namespace plist = quorvit::plist;

namespace {

QDateTime utc(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

TEST(PlistXmlWriterTest, WritesEveryKindOfValueAsTheLibraryDoes)
{
    QVariantList deep{QByteArray(100, 'x')};
    for (int i = 0; i < 10; ++i)
        deep = QVariantList{deep, QByteArray(i * 7, char('a' + i))};
    const QVariantMap value{
        {QString(), QString()},
        {QStringLiteral("text"), QStringLiteral("a < b && c > d \"'\t\r\n caf\u00e9 \u4e2d \U0001F600")},
        {QStringLiteral("nul"), QStringLiteral("be").insert(1, QChar(0))},
        {QStringLiteral("lone"), QString(QString(QChar(0xD800)) + QStringLiteral("x") + QChar(0xDC00))},
        {QStringLiteral("split pair"), QString(QString(QChar(0xD83D)) + QChar(0) + QChar(0xDE00))},
        // Keys that differ only by NUL characters become one entry, the later value in the earlier place.
        {QStringLiteral("k").append(QChar(0)), 1},
        {QStringLiteral("k"), 2},
        {QStringLiteral("<&>"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("ints"),
         QVariantList{0, -5, qlonglong(LLONG_MIN), qlonglong(LLONG_MAX), uint(4000000000u),
                      qulonglong(ULLONG_MAX), QVariant::fromValue(short(-3))}},
        {QStringLiteral("reals"), QVariantList{0.0, -0.0, 0.1, -2.5, 1e300, 123456789012345678.0, 1e-300,
                                               qInf(), -qInf(), qQNaN(), 1.5f}},
        {QStringLiteral("dates"),
         QVariantList{utc(0), utc(-1), utc(978307199500), utc(1600000000123), utc(-62135596800000 + 5000),
                      utc(253402300800000), utc(-80000000000000), QDateTime()}},
        {QStringLiteral("data"),
         QVariantList{QByteArray(), QByteArray("\0\1\2", 3), QByteArray(200, '\xff')}},
        {QStringLiteral("deep"), deep},
        {QStringLiteral("empty"), QVariantList{QVariantMap(), QVariantList(), QStringList()}},
        {QStringLiteral("strings"), QStringList{QStringLiteral("a"), QString()}},
        {QStringLiteral("dropped"), QVariantList{QUrl(QStringLiteral("http://x")), QPoint(1, 2), QVariant()}},
        {QStringLiteral("only dropped"), QVariantMap{{QStringLiteral("u"), QUrl()}}},
    };
    EXPECT_EQ(PlistXmlWriter::document(value), plist::toXml(value));
    for (const QVariant& alone : {QVariant(), QVariant(QUrl()), QVariant(QStringLiteral("top")), QVariant(7)})
        EXPECT_EQ(PlistXmlWriter::document(alone), plist::toXml(alone)) << alone.typeName();
}

// ---------------------------------------------------------------------------------------------------------

class SafariStreamTest : public ::testing::Test
{
protected:
    void SetUp() override { Safari::resetProcessState(); }
    void TearDown() override { setDefaultBrowserNameProvider({}); }

    /// Both ways of writing the tree, the root's fresh UUID aside.
    static void expectSameFile(const QVFolder& tree, const QVariantList& proxies)
    {
        for (const bool flat : {true, false}) {
            setDefaultBrowserNameProvider(
                [flat] { return QString::fromLatin1(flat ? "Safari" : "Firefox"); });
            ASSERT_EQ(defaultBrowserWantsFlatLayout(), flat);
            XMLConverter converter;
            const QByteArray expected = plist::toXml(Safari::fileDictionary(tree, converter, &proxies));
            const QVariant version = Safari::fileVersion();
            const QByteArray streamed =
                XMLConverter::safariFileXml(tree, version.isValid() ? version : QVariant(1), proxies, flat);
            EXPECT_EQ(withoutRootUUID(streamed), withoutRootUUID(expected)) << "flat " << flat;
        }
    }

    static QString withoutRootUUID(const QByteArray& xml)
    {
        static const QRegularExpression rootUUID(
            QStringLiteral("\n\t<key>WebBookmarkUUID</key>\n\t<string>[^<]*</string>\n</dict>\n</plist>\n$"));
        return QString::fromUtf8(xml).replace(rootUUID, QStringLiteral("<root UUID>"));
    }

    static void identify(const QVFolder& folder, int& next)
    {
        for (const QVItemPtr& item : folder.folderContents()) {
            item->setMetaData(QStringLiteral("UUID-%1").arg(++next), PlistMetaKey::UUID);
            if (item->isFolder())
                identify(static_cast<const QVFolder&>(*item), next);
        }
    }
};

TEST_F(SafariStreamTest, WritesTheBytesOfTheDictionaryPath)
{
    auto root = newRoot();
    auto outer = addFolder(root, QStringLiteral("Outer <&>"));
    // The first toolbar met depth first is lifted, wherever it stands; a second stays in place.
    auto toolbar = addFolder(outer, QStringLiteral("Bar"));
    toolbar->setType(QVFolder::ToolbarFolder);
    auto tabs = addFolder(toolbar, QStringLiteral("Tabs"));
    tabs->setType(QVFolder::TabGroup);
    addBookmark(tabs, QStringLiteral("In tabs"), QStringLiteral("http://tabs/"));
    auto otherTabs = addFolder(outer, QStringLiteral("Tabs elsewhere"));
    otherTabs->setType(QVFolder::TabGroup);
    auto secondBar = addFolder(root, QStringLiteral("Second bar"));
    secondBar->setType(QVFolder::ToolbarFolder);
    auto menu = addFolder(root, QStringLiteral("Menu"));
    menu->setType(QVFolder::MenuFolder);
    addBookmark(menu, QStringLiteral("caf\u00e9 \U0001F600"), QStringLiteral("http://x/?a=1&b=<2>"))
        ->setAddDate(utc(1600000000123));
    addBookmark(root, QString(), QString())->setAddDate(utc(-5));
    addBookmark(root, QStringLiteral("Feed"), QStringLiteral("feed://news/rss"));
    addDivider(root);
    addFolder(root, QStringLiteral("Empty"));
    // The same folder twice: only its first place is lifted.
    root->addItem(menu);
    int next = 0;
    identify(*root, next);

    const QVariantList kept{
        QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeProxy")},
                    {QStringLiteral("Extra"), QVariantList{1.5, utc(0)}}}};
    expectSameFile(*root, kept);
    expectSameFile(*root, {});

    // No toolbar and no menu: empty lists stand in for them.
    auto plain = newRoot();
    addBookmark(plain, QStringLiteral("Only"), QStringLiteral("http://only/"));
    identify(*plain, next);
    expectSameFile(*plain, kept);
}

TEST_F(SafariStreamTest, WritesTheBytesOfTheDictionaryPathForRealFiles)
{
    for (const char* name : {"safari-xml/Bookmarks.plist", "safari-binary/Bookmarks.plist"}) {
        const QString file = realworldPath(QString::fromLatin1(name));
        QUORVIT_SKIP_WITHOUT(file);
        Safari safari(file);
        ASSERT_TRUE(safari.readBookmarkFile()) << name;
        expectSameFile(*safari.bookmarks(), safari.xmlConverter()->proxyBookmarkDictionaries());
    }
}

// ---------------------------------------------------------------------------------------------------------

/// Builds binary property lists object by object (references of two bytes, offsets of four).
class BinaryBuilder
{
public:
    int ascii(const QByteArray& text) { return add(sized(0x50, text.size()) + text); }
    int utf16(const QString& text)
    {
        QByteArray bytes = sized(0x60, text.size());
        for (QChar c : text)
            bytes.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        return add(bytes);
    }
    int integer(quint64 value, int width)
    {
        QByteArray bytes(1, char(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3)));
        for (int i = width - 1; i >= 0; --i)
            bytes.append(char(value >> (8 * i)));
        return add(bytes);
    }
    int real(double value) { return add(QByteArray(1, char(0x23)) + bigEndian(value)); }
    int date(double value) { return add(QByteArray(1, char(0x33)) + bigEndian(value)); }
    int boolean(bool value) { return add(QByteArray(1, char(value ? 0x09 : 0x08))); }
    int raw(const QByteArray& object) { return add(object); }
    int data(const QByteArray& bytes) { return add(sized(0x40, bytes.size()) + bytes); }
    int array(const std::vector<int>& elements)
    {
        QByteArray bytes = sized(0xA0, qsizetype(elements.size()));
        for (int element : elements)
            bytes.append(ref(element));
        return add(bytes);
    }
    int dict(const std::vector<std::pair<int, int>>& entries)
    {
        QByteArray bytes = sized(0xD0, qsizetype(entries.size()));
        for (const auto& entry : entries)
            bytes.append(ref(entry.first));
        for (const auto& entry : entries)
            bytes.append(ref(entry.second));
        return add(bytes);
    }
    QByteArray finish(int top) const
    {
        QByteArray out("bplist00");
        QByteArray table;
        for (const QByteArray& object : m_objects) {
            const quint32 at = quint32(out.size());
            table.append(char(at >> 24)).append(char(at >> 16)).append(char(at >> 8)).append(char(at));
            out.append(object);
        }
        const quint64 tableOffset = quint64(out.size());
        out.append(table);
        QByteArray trailer(32, '\0');
        trailer[6] = 4;
        trailer[7] = 2;
        for (int i = 0; i < 8; ++i) {
            trailer[8 + i] = char(quint64(m_objects.size()) >> (56 - 8 * i));
            trailer[16 + i] = char(quint64(top) >> (56 - 8 * i));
            trailer[24 + i] = char(tableOffset >> (56 - 8 * i));
        }
        return out + trailer;
    }

private:
    int add(const QByteArray& object)
    {
        m_objects.push_back(object);
        return int(m_objects.size()) - 1;
    }
    static QByteArray sized(int marker, qsizetype count)
    {
        if (count < 15)
            return QByteArray(1, char(marker | int(count)));
        return QByteArray(1, char(marker | 0x0F)) + QByteArray(1, char(0x11)) +
               QByteArray(1, char(count >> 8)) + QByteArray(1, char(count & 0xFF));
    }
    static QByteArray ref(int object)
    {
        return QByteArray(1, char(object >> 8)) + QByteArray(1, char(object));
    }
    static QByteArray bigEndian(double value)
    {
        quint64 bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        QByteArray out;
        for (int i = 7; i >= 0; --i)
            out.append(char(bits >> (8 * i)));
        return out;
    }
    std::vector<QByteArray> m_objects;
};

TEST(BinaryPlistTest, ReadsEveryValueAsTheGeneralReader)
{
    BinaryBuilder b;
    const int shared = b.ascii("shared");
    const int list = b.array({b.integer(200, 1),
                              b.integer(65535, 2),
                              b.integer(4294967295u, 4),
                              b.integer(quint64(-7), 8),
                              b.real(0.1),
                              b.raw(QByteArray("\x22\x3f\xc0\x00\x00", 5)),
                              b.date(-1.5),
                              b.date(6e10),
                              b.date(1e300),
                              b.boolean(true),
                              b.boolean(false),
                              b.data(QByteArray("\0\1\2\3", 4)),
                              b.ascii(""),
                              b.ascii("caf\xc3\xa9"),
                              b.utf16(QStringLiteral("\u4e2d\u00e9 \U0001F600")),
                              b.utf16(QString(QChar(0xD800))),
                              b.utf16(QStringLiteral("\ufeffbom")),
                              b.utf16(QStringLiteral("plain")),
                              shared,
                              shared,
                              b.ascii(QByteArray(40, 'l')),
                              b.array({}),
                              b.dict({})});
    const int title = b.ascii("Title");
    // A repeated key keeps its last value, as a map would.
    const int top = b.dict({{title, b.ascii("first")},
                            {b.utf16(QStringLiteral("List")), list},
                            {title, b.ascii("second")},
                            {b.ascii(""), shared}});
    const QByteArray bytes = b.finish(top);

    const auto general = plist::fromData(bytes);
    ASSERT_TRUE(general);
    const auto inPlace = BinaryPlist::open(bytes);
    ASSERT_TRUE(inPlace);
    EXPECT_EQ(inPlace->variant(inPlace->top()), *general);
    EXPECT_EQ(inPlace->string(*inPlace->value(inPlace->top(), u"Title")), QStringLiteral("second"));
    EXPECT_FALSE(inPlace->value(inPlace->top(), u"title"));
}

TEST(BinaryPlistTest, LeavesUnusualListsToTheGeneralReader)
{
    const auto declined = [](const std::function<int(BinaryBuilder&)>& make) {
        BinaryBuilder b;
        const int top = make(b);
        return !BinaryPlist::open(b.finish(top));
    };
    EXPECT_TRUE(declined([](BinaryBuilder& b) { return b.array({b.ascii("a")}); }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) { return b.dict({{b.integer(1, 1), b.ascii("v")}}); }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) {
        return b.dict({{b.ascii("n"), b.raw(QByteArray(1, '\0'))}});
    }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) {
        return b.dict({{b.ascii("s"), b.raw(QByteArray(1, '\xc0'))}});
    }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) { return b.dict({{b.ascii("\xc3\xa9"), b.ascii("v")}}); }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) {
        return b.dict({{b.ascii("z"), b.ascii(QByteArray("a\0b", 3))}});
    }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) {
        const int inner = b.array({});
        return b.dict({{b.ascii("a"), inner}, {b.ascii("b"), inner}});
    }));
    EXPECT_TRUE(declined([](BinaryBuilder& b) {
        return b.dict({{b.ascii("big"), b.raw(QByteArray(17, '\x14'))}});
    }));
    // The general reader refuses an empty two-byte string.
    EXPECT_TRUE(declined([](BinaryBuilder& b) { return b.dict({{b.ascii("e"), b.utf16(QString())}}); }));
}

} // namespace

namespace {

const char kTrickyXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\r\n<dict>\n"
    "\t<key>Title</key><string>first</string>\n"
    "\t<key> spaced key </key>\n\t<string>  text\r\n with spaces\t</string>\n"
    "\t<key>entities</key><string>a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;</string>\n"
    "\t<key>numeric</key><string>&#233;&#x4E2D;&#x1F600;</string>\n"
    "\t<key>k&amp;y</key><string/>\n"
    "\t<key>\xef\xbb\xbfTitle</key><string>bom</string>\n"
    "\t<key>caf\xc3\xa9</key><string>caf\xc3\xa9 \xe4\xb8\xad</string>\n"
    "\t<key>empty</key><string></string>\n"
    "\t<key></key><true/>\n"
    "\t<key>numbers</key><array><integer>-42</integer><integer> 7 </integer>"
    "<real>2.5</real><real>1e300</real><false/></array>\n"
    "\t<key>date</key><date>2020-09-13T12:26:40Z</date>\n"
    "\t<key>data</key><data>\n\tAAECAw==\n\t</data>\n"
    "\t<key>nested</key><dict><key>a</key><array/><key>b</key><dict/></dict>\n"
    "\t<key>Title</key><string>second</string>\n"
    "</dict>\n</plist>\n";

TEST(XmlPlistTest, ReadsEveryValueAsTheGeneralReader)
{
    const QByteArray bytes(kTrickyXml);
    const auto general = plist::fromData(bytes);
    ASSERT_TRUE(general);
    const auto inPlace = XmlPlist::open(bytes);
    ASSERT_TRUE(inPlace);
    EXPECT_EQ(inPlace->variant(inPlace->top()), *general);
    const QVariantMap map = general->toMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const auto value = inPlace->value(inPlace->top(), it.key());
        ASSERT_TRUE(value) << it.key().toStdString();
        EXPECT_EQ(inPlace->variant(*value), it.value()) << it.key().toStdString();
    }
}

TEST(XmlPlistTest, LeavesUnusualListsToTheGeneralReader)
{
    const QByteArray head("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n");
    for (const char* body :
         {"<array><string>a</string></array>", "<dict><!-- c --></dict>",
          "<dict><key>a</key><string><![CDATA[x]]></string></dict>", "<dict><key>a&#65;</key><true/></dict>",
          "<dict><key>a</key></dict>", "<dict><string>a</string></dict>", "<dict><key>a</key><true /></dict>",
          "<dict id=\"1\"></dict>", "<dict><key>a</key><array><key>b</key></array></dict>",
          "<dict></dict><dict></dict>", "<dict><key>a</key><string>x</strin></dict>"})
        EXPECT_FALSE(XmlPlist::open(head + body + "\n</plist>\n")) << body;
    EXPECT_FALSE(XmlPlist::open("<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><dict/></plist>"));
    // Markers inside quotes do not end the prologue's parts.
    EXPECT_FALSE(XmlPlist::open("<!DOCTYPE plist PUBLIC \"-//Apple>\n<plist><dict/></plist>\n"));
    EXPECT_FALSE(XmlPlist::open("<?xml version=\"1.0?>\n<plist><dict/></plist>\n"));
    EXPECT_FALSE(XmlPlist::open(head + QByteArray("<dict/>\0</plist>", 16)));
    EXPECT_TRUE(XmlPlist::open(head + "<dict/>\n</plist>\n"));
}

/// A Safari file read in place and read through its dictionary give the same tree: both write the same.
TEST_F(SafariStreamTest, ReadsInPlaceWhatTheDictionaryPathReads)
{
    QTemporaryDir dir;
    const QString tricky = dir.filePath(QStringLiteral("tricky.plist"));
    QByteArray xml(kTrickyXml);
    xml.replace("<key>Title</key><string>first</string>",
                "<key>WebBookmarkType</key><string>WebBookmarkTypeList</string>"
                "<key>WebBookmarkFileVersion</key><integer>1</integer><key>Children</key><array>"
                "<dict><key>WebBookmarkType</key><string>WebBookmarkTypeList</string>"
                "<key>Title</key><string>BookmarksBar</string><key>Children</key><array>"
                "<dict><key>WebBookmarkType</key><string>WebBookmarkTypeLeaf</string>"
                "<key>URLString</key><string>http://a/?x=1&amp;y=&#x4E2D;</string>"
                "<key>URIDictionary</key><dict><key>title</key><string> A &lt;1&gt; </string>"
                "<key>lastVisitedDate</key><string>621000000.5</string></dict>"
                "<key>WebBookmarkUUID</key><string>U-1</string></dict></array>"
                "<key>WebBookmarkAutoTab</key><string>YES</string><key>WebBookmarkUUID</key><string>U-2</"
                "string></dict>"
                "<dict><key>WebBookmarkType</key><string>WebBookmarkTypeProxy</string>"
                "<key>Title</key><string>History</string><key>Extra</key><real>1.5</real></dict>"
                "</array>");
    writeBytes(tricky, xml);
    QStringList files{tricky};
    for (const char* name : {"safari-xml/Bookmarks.plist", "safari-binary/Bookmarks.plist"}) {
        if (QFile::exists(realworldPath(QString::fromLatin1(name))))
            files.append(realworldPath(QString::fromLatin1(name)));
    }
    for (const QString& file : files) {
        const QByteArray bytes = readBytes(file);
        XMLConverter inPlace(file, nullptr);
        auto inPlaceTree = newRoot();
        if (const auto binary = BinaryPlist::open(bytes)) {
            ASSERT_TRUE(inPlace.convertSafariBinary(*binary, inPlaceTree));
        } else {
            const auto text = XmlPlist::open(bytes);
            ASSERT_TRUE(text) << file.toStdString();
            ASSERT_TRUE(inPlace.convertSafariXml(*text, inPlaceTree));
        }
        XMLConverter general(file, nullptr);
        auto generalTree = newRoot();
        ASSERT_TRUE(general.convertSafariDictionary(plist::fromData(bytes)->toMap(), generalTree));

        EXPECT_EQ(inPlace.proxyBookmarkDictionaries(), general.proxyBookmarkDictionaries());
        EXPECT_EQ(inPlace.versionNumber(), general.versionNumber());
        EXPECT_EQ(withoutRootUUID(XMLConverter::safariFileXml(*inPlaceTree, 1, {}, true)),
                  withoutRootUUID(XMLConverter::safariFileXml(*generalTree, 1, {}, true)))
            << file.toStdString();
    }
}

} // namespace

namespace {

/// Everything a read puts in the tree, one item a line.
void describe(const QVFolder& folder, QString& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        out += QStringLiteral("%1|%2|%3|%4\n")
                   .arg(item->isFolder() ? static_cast<const QVFolder&>(*item).type() : -1)
                   .arg(item->name(), item->urlAddress())
                   .arg(QString::fromUtf8(plist::toXml(item->metaData())));
        if (item->isBookmark()) {
            const auto& bookmark = static_cast<const QVBookmark&>(*item);
            out += bookmark.comments() + u'|' + bookmark.mozillaKeywords() + u'|' +
                   bookmark.addDate().toString(Qt::ISODateWithMs) + u'\n';
        }
        if (item->isFolder()) {
            describe(static_cast<const QVFolder&>(*item), out);
            out += QStringLiteral("end\n");
        }
    }
}

TEST(PlistLayoutsTest, CaminoAndShiiraReadInPlaceWhatTheDictionaryPathReads)
{
    using Layout = XMLConverter::Layout;
    for (const auto& [file, layout] : {std::pair{QStringLiteral("camino/bookmarks.plist"), Layout::Camino},
                                       std::pair{QStringLiteral("shiira/Bookmarks.plist"), Layout::Shiira}}) {
        const QByteArray bytes = readBytes(dataPath(file));
        PlistFile::Root inPlace;
        inPlace.xml = XmlPlist::open(bytes);
        ASSERT_TRUE(inPlace.xml) << file.toStdString();
        PlistFile::Root general;
        general.dictionary = plist::fromData(bytes)->toMap();
        QString described[2];
        for (int i = 0; i < 2; ++i) {
            XMLConverter converter(file, nullptr);
            auto tree = newRoot();
            ASSERT_TRUE(converter.convertRoot(layout, i == 0 ? inPlace : general, tree));
            describe(*tree, described[i]);
        }
        EXPECT_EQ(described[0], described[1]) << file.toStdString();
        EXPECT_GT(described[0].size(), 100);
    }
}

} // namespace
