#include "platform/UserDefaults.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ostream>

using quorvit::LogCapture;
using quorvit::UserDefaults;

namespace {

class UserDefaultsTest : public testing::Test
{
protected:
    // In a folder that does not exist yet: the first save has to make it.
    QString path() const { return m_dir.filePath(QStringLiteral("config/com.tarnwell.quorvit.plist")); }

    QTemporaryDir m_dir;
};

TEST_F(UserDefaultsTest, StoredValuesHideRegisteredDefaultsUntilRemoved)
{
    UserDefaults defaults(path());
    defaults.registerDefaults(
        {{QStringLiteral("Interval"), 30}, {QStringLiteral("Name"), QStringLiteral("x")}});
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Interval")), 30);
    EXPECT_FALSE(defaults.hasStoredValue(QStringLiteral("Interval")));

    defaults.setObject(45, QStringLiteral("Interval"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Interval")), 45);

    defaults.removeObjectForKey(QStringLiteral("Interval"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Interval")), 30);

    // Setting an invalid value removes, too.
    defaults.setObject(QStringLiteral("y"), QStringLiteral("Name"));
    defaults.setObject(QVariant(), QStringLiteral("Name"));
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("Name")), QStringLiteral("x"));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("Unknown")).isValid());
}

TEST_F(UserDefaultsTest, SynchronizedValuesAreReadBackButDefaultsAreNotSaved)
{
    const QDateTime when = QDateTime(QDate(2023, 4, 5), QTime(6, 7, 8), QTimeZone::utc());
    {
        UserDefaults defaults(path());
        defaults.registerDefaults({{QStringLiteral("Registered"), true}});
        defaults.setObject(QStringLiteral("Grüße <&>"), QStringLiteral("Text"));
        defaults.setObject(false, QStringLiteral("Flag"));
        defaults.setObject(-12, QStringLiteral("Number"));
        defaults.setObject(QVariantList{QStringLiteral("a"), 2}, QStringLiteral("List"));
        defaults.setObject(QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}, QStringLiteral("Map"));
        defaults.setObject(when, QStringLiteral("When"));
        ASSERT_TRUE(defaults.synchronize());
    }
    UserDefaults again(path());
    EXPECT_EQ(again.stringForKey(QStringLiteral("Text")), QStringLiteral("Grüße <&>"));
    EXPECT_TRUE(again.hasStoredValue(QStringLiteral("Flag")));
    EXPECT_FALSE(again.boolForKey(QStringLiteral("Flag")));
    EXPECT_EQ(again.integerForKey(QStringLiteral("Number")), -12);
    EXPECT_EQ(again.arrayForKey(QStringLiteral("List")), (QVariantList{QStringLiteral("a"), qlonglong(2)}));
    EXPECT_EQ(again.dictionaryForKey(QStringLiteral("Map")).value(QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_EQ(again.objectForKey(QStringLiteral("When")).toDateTime(), when);
    EXPECT_FALSE(again.hasStoredValue(QStringLiteral("Registered")));
}

TEST_F(UserDefaultsTest, ReloadDropsUnsavedChanges)
{
    UserDefaults defaults(path());
    defaults.setObject(1, QStringLiteral("Saved"));
    ASSERT_TRUE(defaults.synchronize());
    defaults.setObject(2, QStringLiteral("Saved"));
    defaults.setObject(3, QStringLiteral("Unsaved"));
    EXPECT_TRUE(defaults.reload());
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Saved")), 1);
    EXPECT_FALSE(defaults.hasStoredValue(QStringLiteral("Unsaved")));
}

TEST_F(UserDefaultsTest, UnreadableFileStartsFromDefaultsAndIsKeptAside)
{
    const QByteArray garbage = "<?xml version=\"1.0\"?><plist><dict><key>Broken";
    testsupport::writeBytes(path(), garbage);
    LogCapture log;
    UserDefaults defaults(path());
    defaults.registerDefaults({{QStringLiteral("Interval"), 30}});
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Interval")), 30);
    EXPECT_TRUE(log.contains(path()));
    EXPECT_EQ(testsupport::readBytes(path() + QStringLiteral(".unreadable")), garbage);

    // The next save replaces the broken file; the copy stays for the user.
    defaults.setObject(5, QStringLiteral("Interval"));
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(UserDefaults(path()).integerForKey(QStringLiteral("Interval")), 5);
    EXPECT_EQ(testsupport::readBytes(path() + QStringLiteral(".unreadable")), garbage);
}

TEST_F(UserDefaultsTest, FileThatIsNotADictionaryCountsAsUnreadable)
{
    ASSERT_TRUE(quorvit::plist::writeFile(m_dir.filePath(QStringLiteral("list.plist")), QVariantList{1, 2}));
    LogCapture log;
    UserDefaults defaults(m_dir.filePath(QStringLiteral("list.plist")));
    EXPECT_FALSE(defaults.hasStoredValue(QStringLiteral("0")));
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("list.plist.unreadable"))));
    EXPECT_FALSE(log.lines().isEmpty());
}

TEST_F(UserDefaultsTest, FailedSaveIsReportedAndLogged)
{
    // A plain file where the folder should be.
    testsupport::writeBytes(m_dir.filePath(QStringLiteral("blocker")), "x");
    LogCapture log;
    UserDefaults defaults(m_dir.filePath(QStringLiteral("blocker/prefs.plist")));
    defaults.setObject(1, QStringLiteral("Key"));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(log.contains(QStringLiteral("blocker/prefs.plist")));
}

TEST(UserDefaultsPath, FollowsXdgConfigHome)
{
    testsupport::TemporaryHome home;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::defaultPath(),
              home.filePath(QStringLiteral(".config/com.tarnwell.quorvit.plist")));
    qputenv("XDG_CONFIG_HOME", "/somewhere/else");
    EXPECT_EQ(UserDefaults::defaultPath(), QStringLiteral("/somewhere/else/com.tarnwell.quorvit.plist"));
    if (old.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", old);
}

struct BoolCase
{
    const char* name;
    friend void PrintTo(const BoolCase& c, std::ostream* os) { *os << c.name; }
    QVariant stored;
    bool expected;
};

class UserDefaultsBool : public testing::TestWithParam<BoolCase>
{
};

TEST_P(UserDefaultsBool, ReadsStoredValueAsBool)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("p.plist")));
    defaults.setObject(GetParam().stored, QStringLiteral("Key"));
    EXPECT_EQ(defaults.boolForKey(QStringLiteral("Key")), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, UserDefaultsBool,
                         testing::Values(BoolCase{"BoolTrue", true, true},
                                         BoolCase{"BoolFalse", false, false}, BoolCase{"IntOne", 1, true},
                                         BoolCase{"IntZero", 0, false},
                                         BoolCase{"StringYes", QStringLiteral("YES"), true},
                                         BoolCase{"StringLowerYes", QStringLiteral("yes"), true},
                                         BoolCase{"StringTrue", QStringLiteral("True"), true},
                                         BoolCase{"StringOne", QStringLiteral("1"), true},
                                         BoolCase{"StringNo", QStringLiteral("NO"), false},
                                         BoolCase{"StringZero", QStringLiteral("0"), false},
                                         BoolCase{"StringEmpty", QString(QLatin1String("")), false},
                                         BoolCase{"StringOther", QStringLiteral("maybe"), false}),
                         [](const testing::TestParamInfo<BoolCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
