#include "platform/PropertyList.h"
#include "platform/AtomicFile.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <limits>

namespace plist = quorvit::plist;

namespace {

QDateTime utc(const char* iso)
{
    QDateTime date = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    date.setTimeZone(QTimeZone::utc());
    return date;
}

QVariant roundTrip(const QVariant& value)
{
    const auto read = plist::fromData(plist::toXml(value));
    return read ? *read : QVariant();
}

// Builds binary property lists object by object (4-byte offsets and references), so tests can make
// structures no writer would: cycles, shared containers, deep chains, damaged trailers.
class BinaryPlist
{
public:
    int add(const QByteArray& object)
    {
        m_objects.append(object);
        return int(m_objects.size() - 1);
    }
    static QByteArray array(const QList<quint32>& refs, quint8 marker = 0xA0)
    {
        QByteArray out = header(marker, refs.size());
        for (quint32 ref : refs)
            out += be(ref, 4);
        return out;
    }
    static QByteArray date(double secondsSince2001)
    {
        quint64 bits = 0;
        std::memcpy(&bits, &secondsSince2001, sizeof bits);
        return QByteArray(1, char(0x33)) + be(bits, 8);
    }
    static QByteArray ascii(const QByteArray& text) { return header(0x50, text.size()) + text; }
    static QByteArray integer(qint64 value) { return QByteArray(1, char(0x13)) + be(quint64(value), 8); }

    QByteArray bytes(int top = 0) const
    {
        QByteArray out("bplist00");
        QList<quint32> offsets;
        for (const QByteArray& object : m_objects) {
            offsets.append(quint32(out.size()));
            out += object;
        }
        const quint64 table = quint64(out.size());
        for (quint32 offset : offsets)
            out += be(offset, 4);
        out += QByteArray(6, '\0') + char(4) + char(4);
        out += be(quint64(m_objects.size()), 8) + be(quint64(top), 8) + be(table, 8);
        return out;
    }

private:
    static QByteArray be(quint64 value, int width)
    {
        QByteArray out;
        for (int i = width - 1; i >= 0; --i)
            out += char((value >> (8 * i)) & 0xFF);
        return out;
    }
    static QByteArray header(quint8 marker, qsizetype count)
    {
        if (count < 15)
            return QByteArray(1, char(marker | count));
        return QByteArray(1, char(marker | 0x0F)) + char(0x12) + be(quint64(count), 4);
    }

    QList<QByteArray> m_objects;
};

// A chain of arrays, each holding the next; the innermost one is empty.
QByteArray binaryChain(int depth)
{
    BinaryPlist list;
    for (int i = 0; i < depth - 1; ++i)
        list.add(BinaryPlist::array({quint32(i + 1)}));
    list.add(BinaryPlist::array({}));
    return list.bytes();
}

QByteArray xmlChain(int depth, const QByteArray& open = "<array>", const QByteArray& close = "</array>")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + open.repeated(depth) +
           close.repeated(depth) + "</plist>\n";
}

} // namespace

// --- Values survive the XML form -------------------------------------------------------------------

struct ValueCase
{
    const char* name;
    friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }
    QVariant value;
    QVariant expected; // invalid: the value itself
};

class PropertyListValue : public testing::TestWithParam<ValueCase>
{
};

TEST_P(PropertyListValue, SurvivesXmlRoundTrip)
{
    const ValueCase& c = GetParam();
    const QVariant expected = c.expected.isValid() ? c.expected : c.value;
    const QVariant read = roundTrip(c.value);
    EXPECT_EQ(read.typeId(), expected.typeId()) << read.typeName();
    EXPECT_EQ(read, expected) << plist::toXml(c.value).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Values, PropertyListValue,
    testing::Values(
        ValueCase{"AsciiString", QStringLiteral("Hello"), {}},
        ValueCase{"EmptyString", QString(QLatin1String("")), {}},
        ValueCase{"MarkupCharacters", QStringLiteral("<&> \"quoted\" 'single' ]]> &amp;"), {}},
        ValueCase{"NonAscii", QStringLiteral("Grüße – 日本語 🎉 \u00a0"), {}},
        ValueCase{"Whitespace", QStringLiteral("  leading\n\ttrailing  "), {}},
        ValueCase{"Zero", qlonglong(0), {}}, ValueCase{"SmallInt", int(42), qlonglong(42)},
        ValueCase{"Negative", qlonglong(-5), {}}, ValueCase{"NegativeInt", int(-1), qlonglong(-1)},
        ValueCase{"Int64Max", std::numeric_limits<qlonglong>::max(), {}},
        ValueCase{"Int64Min", std::numeric_limits<qlonglong>::min(), {}}, ValueCase{"Real", 3.25, {}},
        ValueCase{"NegativeReal", -0.1, {}}, ValueCase{"HugeReal", 1e300, {}}, ValueCase{"True", true, {}},
        ValueCase{"False", false, {}}, ValueCase{"Date", utc("2024-02-29T12:34:56"), {}},
        ValueCase{"DateBefore2001", utc("1999-12-31T23:59:59"), {}},
        ValueCase{"MacEpoch1904", utc("1904-01-01T00:00:00"), {}},
        ValueCase{"Date2100", utc("2100-01-01T00:00:00"), {}},
        // The XML form holds whole seconds; a fraction is dropped by rounding down, before 2001 too.
        ValueCase{"DateFraction", utc("2010-06-01T08:00:05.750"), utc("2010-06-01T08:00:05")},
        ValueCase{"DateFractionBefore2001", utc("2000-12-31T23:59:58.500"), utc("2000-12-31T23:59:58")},
        ValueCase{"Data", QByteArray("\x00\x01\xfe\xff<&>", 7), {}},
        ValueCase{"EmptyData", QByteArray(""), {}},
        ValueCase{
            "NestedContainers",
            QVariantMap{{QStringLiteral("list"), QVariantList{qlonglong(1), QStringLiteral("two"), true}},
                        {QStringLiteral("ké<y>"), QVariantMap{{QStringLiteral("inner"), 0.5}}},
                        {QStringLiteral("empty"), QVariantList{}}},
            {}}),
    [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST(PropertyList, StringListIsWrittenAsArray)
{
    const QVariant read = roundTrip(QStringList{QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(read, (QVariantList{QStringLiteral("a"), QStringLiteral("b")}));
}

// --- Binary lists ---------------------------------------------------------------------------------

TEST(PropertyListBinary, ReadsWhatPlistutilWrites)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("plistutil"));
    if (tool.isEmpty())
        GTEST_SKIP() << "plistutil (libplist-utils) is not installed";
    const QVariantMap value{{QStringLiteral("name"), QStringLiteral("Ünïcode <&>")},
                            {QStringLiteral("count"), qlonglong(-70000)},
                            {QStringLiteral("big"), qlonglong(1) << 40},
                            {QStringLiteral("ratio"), 0.125},
                            {QStringLiteral("flag"), true},
                            {QStringLiteral("when"), utc("1990-05-06T07:08:09")},
                            {QStringLiteral("bytes"), QByteArray("\x00\x10\xff", 3)},
                            {QStringLiteral("list"), QVariantList{QStringLiteral("x"), QStringLiteral("x")}}};
    QTemporaryDir dir;
    const QString xml = dir.filePath(QStringLiteral("in.plist"));
    const QString bin = dir.filePath(QStringLiteral("out.plist"));
    ASSERT_TRUE(plist::writeFile(xml, value));
    ASSERT_EQ(QProcess::execute(tool, {QStringLiteral("-i"), xml, QStringLiteral("-o"), bin,
                                       QStringLiteral("-f"), QStringLiteral("bin")}),
              0);
    ASSERT_TRUE(testsupport::readBytes(bin).startsWith("bplist00"));
    const auto read = plist::readFile(bin);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, QVariant(value));
}

struct BinaryDateCase
{
    const char* name;
    friend void PrintTo(const BinaryDateCase& c, std::ostream* os) { *os << c.name; }
    double secondsSince2001;
    const char* expected;
};

class PropertyListBinaryDate : public testing::TestWithParam<BinaryDateCase>
{
};

// libplist hands out a date's fraction without its sign; these dates would come back a second off.
TEST_P(PropertyListBinaryDate, KeepsMilliseconds)
{
    BinaryPlist list;
    list.add(BinaryPlist::date(GetParam().secondsSince2001));
    const auto read = plist::fromData(list.bytes());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->toDateTime(), utc(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Dates, PropertyListBinaryDate,
    testing::Values(BinaryDateCase{"After2001", 10.123, "2001-01-01T00:00:10.123"},
                    BinaryDateCase{"Before2001", -1.5, "2000-12-31T23:59:58.500"},
                    BinaryDateCase{"JustBefore2001", -0.25, "2000-12-31T23:59:59.750"},
                    BinaryDateCase{"MacEpoch1904", -3061152000.0, "1904-01-01T00:00:00.000"},
                    BinaryDateCase{"Year2100", 3124137600.0, "2100-01-01T00:00:00.000"}),
    [](const testing::TestParamInfo<BinaryDateCase>& info) { return std::string(info.param.name); });

TEST(PropertyListBinary, SharedStringsAndEmptyContainersAreFine)
{
    // Writers store equal strings once and refer to them many times.
    BinaryPlist list;
    list.add(BinaryPlist::array({1, 2, 2, 2, 3, 3}));
    list.add(BinaryPlist::integer(-2));
    list.add(BinaryPlist::ascii("same"));
    list.add(BinaryPlist::array({}));
    const auto read = plist::fromData(list.bytes());
    ASSERT_TRUE(read);
    const QVariantList expected{qlonglong(-2),          QStringLiteral("same"), QStringLiteral("same"),
                                QStringLiteral("same"), QVariantList{},         QVariantList{}};
    EXPECT_EQ(*read, QVariant(expected));
}

TEST(PropertyListBinary, NestingUpToTheLimitIsRead)
{
    EXPECT_TRUE(plist::fromData(binaryChain(plist::kMaxNestingDepth)));
    EXPECT_TRUE(plist::fromData(xmlChain(plist::kMaxNestingDepth)));
}

TEST(PropertyListRealWorld, SafariBookmarksInBothForms)
{
    for (const char* name : {"safari-binary/Bookmarks.plist", "safari-xml/Bookmarks.plist"}) {
        const QString path = testsupport::realworldPath(QString::fromLatin1(name));
        if (!QFile::exists(path))
            GTEST_SKIP() << "no real-world sample " << name;
        QString error;
        const auto read = plist::readFile(path, &error);
        ASSERT_TRUE(read) << name << ": " << error.toStdString();
        EXPECT_FALSE(read->toMap().value(QStringLiteral("Children")).toList().isEmpty()) << name;
    }
}

// --- Hostile and broken input ----------------------------------------------------------------------

struct RefusedCase
{
    const char* name;
    friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
    QByteArray bytes;
};

class PropertyListRefused : public testing::TestWithParam<RefusedCase>
{
};

TEST_P(PropertyListRefused, AnswersNothing)
{
    QString error;
    EXPECT_FALSE(plist::fromData(GetParam().bytes, &error));
    EXPECT_FALSE(error.isEmpty());
}

namespace {
QByteArray billionLaughs()
{
    QByteArray doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY lol \"lol\">\n";
    for (int i = 1; i < 10; ++i)
        doc += "<!ENTITY lol" + QByteArray::number(i) + " \"" +
               QByteArray("&lol" + (i > 1 ? QByteArray::number(i - 1) : QByteArray()) + ";").repeated(10) +
               "\">\n";
    return doc + "]>\n<plist version=\"1.0\"><string>&lol9;</string></plist>\n";
}

QByteArray binaryCycle()
{
    BinaryPlist list;
    list.add(BinaryPlist::array({1}));
    list.add(BinaryPlist::array({0}));
    return list.bytes();
}

QByteArray binarySelfReference()
{
    BinaryPlist list;
    list.add(BinaryPlist::array({0}, 0xD0)); // a dictionary that is its own key and value
    return list.bytes();
}

// Each level refers to the next twice: 40 small objects describe 2^40 nodes.
QByteArray binarySharedContainers()
{
    BinaryPlist list;
    for (quint32 i = 0; i < 40; ++i)
        list.add(BinaryPlist::array({i + 1, i + 1}));
    list.add(BinaryPlist::ascii("x"));
    return list.bytes();
}

// A shallow top reaching a deep subtree through a second, longer path.
QByteArray binaryDeepThroughSharing()
{
    BinaryPlist list;
    // Each path alone stays within the limit; the two together go past it.
    const int depth = plist::kMaxNestingDepth * 3 / 4;
    const int second = plist::kMaxNestingDepth / 2;
    list.add(BinaryPlist::array({1, quint32(depth + 1)}));
    for (int i = 1; i < depth; ++i)
        list.add(BinaryPlist::array({quint32(i + 1)}));
    list.add(BinaryPlist::array({}));
    // Second path: more levels leading to object 1.
    for (int i = 0; i < second; ++i)
        list.add(BinaryPlist::array({quint32(i < second - 1 ? depth + 2 + i : 1)}));
    return list.bytes();
}

// libplist aborts on strings with NUL characters, as values and as dictionary keys.
QByteArray binaryNulString(bool asKey, bool utf16)
{
    BinaryPlist list;
    list.add(BinaryPlist::array({1, 2}, asKey ? 0xD0 : 0xA0));
    list.add(utf16 ? QByteArray("\x63\x00\x62\x00\x00\x00\x61", 7)
                   : BinaryPlist::ascii(QByteArray("a\0b", 3)));
    list.add(BinaryPlist::ascii("value"));
    return list.bytes();
}

QByteArray withTrailerByte(QByteArray bytes, int fromEnd, char value)
{
    bytes[bytes.size() - fromEnd] = value;
    return bytes;
}

QByteArray validBinary()
{
    BinaryPlist list;
    list.add(BinaryPlist::array({1, 2}));
    list.add(BinaryPlist::ascii("hello"));
    list.add(BinaryPlist::integer(7));
    return list.bytes();
}
} // namespace

INSTANTIATE_TEST_SUITE_P(
    Inputs, PropertyListRefused,
    testing::Values(RefusedCase{"Empty", QByteArray()}, RefusedCase{"PlainText", "hello, world"},
                    RefusedCase{"BillionLaughs", billionLaughs()},
                    RefusedCase{
                        "InternalSubsetWithoutEntities",
                        "<?xml version=\"1.0\"?><!DOCTYPE plist [ ]><plist><string>x</string></plist>"},
                    RefusedCase{"TruncatedXml", "<?xml version=\"1.0\"?><plist><dict><key>a</key><str"},
                    RefusedCase{"XmlTooDeep", xmlChain(plist::kMaxNestingDepth + 1)},
                    RefusedCase{"XmlDictsTooDeep",
                                xmlChain(plist::kMaxNestingDepth + 1, "<dict><key>k</key>", "</dict>")},
                    RefusedCase{"XmlTooDeepSpacedTags", xmlChain(100000, "<array >", "</array >")},
                    RefusedCase{"XmlTooDeepBehindCommentedClosers",
                                xmlChain(plist::kMaxNestingDepth + 1, "<array><!-- </array></array> -->")},
                    RefusedCase{"BinaryTooDeep", binaryChain(plist::kMaxNestingDepth + 1)},
                    RefusedCase{"BinaryFarTooDeep", binaryChain(200000)},
                    RefusedCase{"BinaryCycle", binaryCycle()},
                    RefusedCase{"BinarySelfReference", binarySelfReference()},
                    RefusedCase{"BinarySharedContainers", binarySharedContainers()},
                    RefusedCase{"BinaryDeepThroughSharing", binaryDeepThroughSharing()},
                    RefusedCase{"BinaryNulInString", binaryNulString(false, false)},
                    RefusedCase{"BinaryNulInKey", binaryNulString(true, false)},
                    RefusedCase{"BinaryNulInUtf16String", binaryNulString(false, true)},
                    RefusedCase{"XmlNulInString", QByteArray("<plist><string>a\0b</string></plist>", 35)},
                    RefusedCase{"BinaryHeaderOnly", "bplist00"},
                    RefusedCase{"BinaryGarbage", QByteArray("bplist00") + QByteArray(64, '\xff')},
                    RefusedCase{"BinaryTopOutOfRange", withTrailerByte(validBinary(), 9, 9)},
                    RefusedCase{"BinaryTableOutsideFile", withTrailerByte(validBinary(), 2, 0x7f)},
                    RefusedCase{"BinaryZeroReferenceSize", withTrailerByte(validBinary(), 25, 0)}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(PropertyListBroken, EveryTruncationIsHandled)
{
    for (const QByteArray& whole : {validBinary(), plist::toXml(QVariantMap{{QStringLiteral("k"), 1}})}) {
        ASSERT_TRUE(plist::fromData(whole));
        for (qsizetype length = 0; length < whole.size(); ++length)
            plist::fromData(whole.left(length)); // must not crash or hang; sanitizers watch
    }
}

TEST(PropertyListBroken, RandomlyDamagedBinaryNeverCrashes)
{
    QRandomGenerator random(20240229);
    const QByteArray whole = validBinary();
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = whole;
        const int flips = 1 + random.bounded(4);
        for (int i = 0; i < flips; ++i)
            damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
        if (!damaged.startsWith("bplist00"))
            damaged.replace(0, 8, "bplist00");
        plist::fromData(damaged);
    }
}

// --- Files ----------------------------------------------------------------------------------------

class PropertyListFile : public testing::Test
{
protected:
    void TearDown() override { quorvit::setAtomicWriteFailureAfterBytes(-1); }
    QTemporaryDir m_dir;
};

TEST_F(PropertyListFile, FailedWriteLeavesOldFileAndNoDebris)
{
    const QString path = m_dir.filePath(QStringLiteral("prefs.plist"));
    const QVariantMap before{{QStringLiteral("version"), qlonglong(1)}};
    ASSERT_TRUE(plist::writeFile(path, before));
    const QByteArray oldBytes = testsupport::readBytes(path);

    quorvit::setAtomicWriteFailureAfterBytes(20);
    QString error;
    EXPECT_FALSE(plist::writeFile(path, QVariantMap{{QStringLiteral("version"), qlonglong(2)}}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(testsupport::readBytes(path), oldBytes);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("prefs.plist")});
    EXPECT_EQ(*plist::readFile(path), QVariant(before));
}

TEST_F(PropertyListFile, MissingFileAnswersNothingWithReason)
{
    QString error;
    EXPECT_FALSE(plist::readFile(m_dir.filePath(QStringLiteral("absent.plist")), &error));
    EXPECT_FALSE(error.isEmpty());
}
