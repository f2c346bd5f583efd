#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/PathUtils.h"
#include "platform/Utf8Writer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

using namespace quorvit;

namespace {

// --- Type and creator codes -----------------------------------------------------------------------

class FileAttributesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_path = m_dir.filePath(QStringLiteral("Bookmarks.html"));
        testsupport::writeBytes(m_path, "<html></html>");
    }
    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(FileAttributesTest, CodesAreReadBack)
{
    if (!setTypeAndCreator(m_path, QStringLiteral("TEXT"), QStringLiteral("MOSs")))
        GTEST_SKIP() << "the temporary folder's file system keeps no user extended attributes";
    TypeCreator codes;
    ASSERT_TRUE(readTypeAndCreator(m_path, &codes));
    EXPECT_EQ(codes.type, QStringLiteral("TEXT"));
    EXPECT_EQ(codes.creator, QStringLiteral("MOSs"));
    EXPECT_EQ(typeCode(m_path), QStringLiteral("TEXT"));
    EXPECT_EQ(creatorCode(m_path), QStringLiteral("MOSs"));

    // Codes are four bytes; shorter ones are padded with spaces as on the Mac.
    ASSERT_TRUE(setTypeAndCreator(m_path, QStringLiteral("ab"), QStringLiteral("ABCDEF")));
    EXPECT_EQ(typeCode(m_path), QStringLiteral("ab  "));
    EXPECT_EQ(creatorCode(m_path), QStringLiteral("ABCD"));
}

TEST_F(FileAttributesTest, FileWithoutCodesAnswersEmptyCodes)
{
    TypeCreator codes{QStringLiteral("old"), QStringLiteral("old")};
    ASSERT_TRUE(readTypeAndCreator(m_path, &codes));
    EXPECT_TRUE(codes.type.isEmpty());
    EXPECT_TRUE(codes.creator.isEmpty());
}

TEST_F(FileAttributesTest, MissingFileHasNoCodes)
{
    const QString missing = m_dir.filePath(QStringLiteral("absent"));
    TypeCreator codes;
    EXPECT_FALSE(readTypeAndCreator(missing, &codes));
    EXPECT_FALSE(readTypeAndCreator(QString(), &codes));
    EXPECT_TRUE(creatorCode(missing).isEmpty());
    EXPECT_FALSE(setTypeAndCreator(missing, QStringLiteral("TEXT"), QStringLiteral("MOSs")));
}

// --- Atomic writes --------------------------------------------------------------------------------

class AtomicFileTest : public testing::Test
{
protected:
    void TearDown() override { setAtomicWriteFailureAfterBytes(-1); }
    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QTemporaryDir m_dir;
};

TEST_F(AtomicFileTest, WritesNewFile)
{
    const QString path = m_dir.filePath(QStringLiteral("new.txt"));
    ASSERT_TRUE(writeFileAtomically(path, "content"));
    EXPECT_EQ(testsupport::readBytes(path), QByteArray("content"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("new.txt")});
}

TEST_F(AtomicFileTest, ReplacingKeepsPermissions)
{
    const QString path = m_dir.filePath(QStringLiteral("private.txt"));
    testsupport::writeBytes(path, "old");
    const auto permissions = QFile::ReadOwner | QFile::WriteOwner;
    ASSERT_TRUE(QFile::setPermissions(path, permissions));
    ASSERT_TRUE(writeFileAtomically(path, "new and longer"));
    EXPECT_EQ(testsupport::readBytes(path), QByteArray("new and longer"));
    // Owner, group and others; the "user" flags only repeat the owner's for the current user.
    EXPECT_EQ(QFile::permissions(path) & QFileDevice::Permissions(0x7077), permissions);
}

TEST_F(AtomicFileTest, FailureLeavesOldContentAndNoTemporaryFiles)
{
    const QString path = m_dir.filePath(QStringLiteral("keep.txt"));
    testsupport::writeBytes(path, "old content");
    for (qint64 after : {0, 3, 1000}) {
        setAtomicWriteFailureAfterBytes(after);
        QString error;
        EXPECT_FALSE(writeFileAtomically(path, "replacement text", &error)) << after;
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(testsupport::readBytes(path), QByteArray("old content")) << after;
        EXPECT_EQ(entries(), QStringList{QStringLiteral("keep.txt")}) << after;
    }
    setAtomicWriteFailureAfterBytes(-1);
    EXPECT_TRUE(writeFileAtomically(path, "replacement text"));
    EXPECT_EQ(testsupport::readBytes(path), QByteArray("replacement text"));
}

TEST_F(AtomicFileTest, MissingFolderIsAnError)
{
    QString error;
    EXPECT_FALSE(writeFileAtomically(m_dir.filePath(QStringLiteral("no/such/folder/f")), "x", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(AtomicFileTest, StreamedWriteFailsWholeWhereverItStops)
{
    const QString path = m_dir.filePath(QStringLiteral("keep.txt"));
    testsupport::writeBytes(path, "old content");
    const auto threePieces = [](ByteSink& sink) {
        return sink.write("first ", 6) && sink.write("second ", 7) && sink.write("third", 5);
    };
    // Refused in the second piece, given up by the producer, refused before the first byte.
    setAtomicWriteFailureAfterBytes(9);
    EXPECT_FALSE(writeFileAtomically(path, threePieces));
    setAtomicWriteFailureAfterBytes(-1);
    QString error;
    EXPECT_FALSE(writeFileAtomically(
        path, [](ByteSink& sink) { return sink.write("half", 4) && false; }, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(writeFileAtomically(m_dir.filePath(QStringLiteral("no/such/f")), threePieces));
    EXPECT_EQ(testsupport::readBytes(path), QByteArray("old content"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("keep.txt")});

    ASSERT_TRUE(writeFileAtomically(path, threePieces));
    EXPECT_EQ(testsupport::readBytes(path), QByteArray("first second third"));
}

// --- UTF-8 writer ---------------------------------------------------------------------------------

class PieceSink final : public ByteSink
{
public:
    bool write(const char* data, qsizetype size) override
    {
        largest = std::max(largest, size);
        bytes.append(data, size);
        return refuseAfter < 0 || bytes.size() <= refuseAfter;
    }
    QByteArray bytes;
    qsizetype largest = 0;
    qsizetype refuseAfter = -1;
};

TEST(Utf8Writer, MakesToUtf8sBytesHoweverTheBufferFalls)
{
    // Every encoded length, pairs, and surrogates without partners at either end of a piece.
    const QString pieces[] = {
        QStringLiteral("plain ascii "),     QStringLiteral("caf\u00e9 \u20ac "),
        QString::fromUtf16(u"\U0001F600x"), QString(QChar(0xD83D)),
        QString(QChar(0xDE00)) + u"z",      QString::fromUtf16(u"a\xDBFF\xDBFF\U00010000"),
    };
    const Utf8Writer::AsciiEscapes escapes(
        [](char16_t unit) { return unit == u'<' ? QLatin1String("&lt;") : QLatin1String(); });
    for (qsizetype capacity = 1; capacity <= 40; ++capacity) {
        PieceSink sink;
        Utf8Writer out(sink, capacity);
        QString expected;
        for (const QString& piece : pieces) {
            out.append(piece);
            out.appendAscii(QLatin1String("<>"));
            out.appendEscaped(QString(piece + u'<'), escapes);
            expected += piece + QLatin1String("<>") + piece + QLatin1String("&lt;");
        }
        ASSERT_TRUE(out.flush());
        EXPECT_EQ(sink.bytes, expected.toUtf8()) << capacity;
        EXPECT_LE(sink.largest, std::max<qsizetype>(capacity, 4)) << capacity;
    }
}

TEST(Utf8Writer, RefusedBytesFailEveryLaterFlush)
{
    PieceSink sink;
    sink.refuseAfter = 10;
    Utf8Writer out(sink, 8);
    out.appendAscii(QLatin1String("0123456789abcdef"));
    out.append(QStringLiteral("more"));
    EXPECT_FALSE(out.flush());
    EXPECT_TRUE(out.failed());
    EXPECT_EQ(sink.bytes, QByteArray("0123456789abcdef")); // nothing after the refusal
}

// --- Paths ----------------------------------------------------------------------------------------

struct TildeCase
{
    const char* name;
    friend void PrintTo(const TildeCase& c, std::ostream* os) { *os << c.name; }
    QString input;    // "HOME" stands for the home folder
    QString expected; // likewise
};

QString withHome(QString text, const QString& home)
{
    return text.replace(QStringLiteral("HOME"), home);
}

class ExpandTilde : public testing::TestWithParam<TildeCase>
{
};

TEST_P(ExpandTilde, AgainstHome)
{
    testsupport::TemporaryHome home;
    EXPECT_EQ(expandTilde(GetParam().input), withHome(GetParam().expected, home.path()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ExpandTilde,
                         testing::Values(TildeCase{"TildeAlone", "~", "HOME"},
                                         TildeCase{"TildeSlash", "~/", "HOME/"},
                                         TildeCase{"InsideHome", "~/Library/Safari", "HOME/Library/Safari"},
                                         TildeCase{"OtherUser", "~user/x", "~user/x"},
                                         TildeCase{"Absolute", "/tmp/~/x", "/tmp/~/x"},
                                         TildeCase{"Relative", "a/~", "a/~"}, TildeCase{"Empty", "", ""}),
                         [](const testing::TestParamInfo<TildeCase>& info) {
                             return std::string(info.param.name);
                         });

class AbbreviateWithTilde : public testing::TestWithParam<TildeCase>
{
};

TEST_P(AbbreviateWithTilde, AgainstHome)
{
    testsupport::TemporaryHome home;
    EXPECT_EQ(abbreviateWithTilde(withHome(GetParam().input, home.path())),
              withHome(GetParam().expected, home.path()));
}

INSTANTIATE_TEST_SUITE_P(Cases, AbbreviateWithTilde,
                         testing::Values(TildeCase{"Home", "HOME", "~"},
                                         TildeCase{"InsideHome", "HOME/Library/x", "~/Library/x"},
                                         TildeCase{"SiblingWithSamePrefix", "HOMEx/y", "HOMEx/y"},
                                         TildeCase{"Outside", "/etc/passwd", "/etc/passwd"}),
                         [](const testing::TestParamInfo<TildeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(PathUtils, HomeWithTrailingSlashGivesNoDoubleSlash)
{
    testsupport::TemporaryHome home;
    qputenv("HOME", QFile::encodeName(home.path() + QLatin1Char('/')));
    EXPECT_EQ(expandTilde(QStringLiteral("~/x")), home.path() + QStringLiteral("/x"));
    EXPECT_EQ(abbreviateWithTilde(home.path() + QStringLiteral("/x")), QStringLiteral("~/x"));
}

} // namespace
