#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRect>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("brimlark.ini")); }

    TMainState LoadFrom(const QByteArray& bytes)
    {
        WriteAll(path(), bytes);
        TMainState state;
        LoadSettings(path(), state);
        return state;
    }

    TMainState RoundTrip(const TMainState& state, const QRect& bounds = QRect(1, 2, 3, 4))
    {
        EXPECT_TRUE(SaveSettings(path(), state, bounds));
        TMainState back;
        LoadSettings(path(), back);
        return back;
    }
};

void ExpectDefaults(const TMainState& s)
{
    EXPECT_EQ(s.WindowLeft, 400);
    EXPECT_EQ(s.WindowTop, 200);
    EXPECT_EQ(s.WindowWidth, 600);
    EXPECT_EQ(s.WindowHeight, 300);
    EXPECT_TRUE(s.AccountName.isEmpty());
    EXPECT_TRUE(s.Password.isEmpty());
    EXPECT_FALSE(s.Anonymous);
    EXPECT_FALSE(s.TopMost);
    EXPECT_EQ(s.DisplayMode, 1);
    EXPECT_TRUE(s.AutoReload);
    EXPECT_TRUE(s.AutoRotation);
    EXPECT_EQ(s.ReloadInterval, 60);
    EXPECT_EQ(s.RotationInterval, 20);
    EXPECT_FALSE(s.Api.has_value());
}

TEST(SettingsFileName, ReplacesTheExtensionOfTheFileOnly)
{
    EXPECT_EQ(SettingsFileName(QStringLiteral("/opt/app/brimlark")), QStringLiteral("/opt/app/brimlark.ini"));
    EXPECT_EQ(SettingsFileName(QStringLiteral("/opt/app/Brimlark_Simple.exe")),
              QStringLiteral("/opt/app/Brimlark_Simple.ini"));
    EXPECT_EQ(SettingsFileName(QStringLiteral("/opt/v1.2/brimlark")), QStringLiteral("/opt/v1.2/brimlark.ini"));
}

TEST(ScrambleText, IsItsOwnInverseForEveryByte)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    EXPECT_EQ(ScrambleText(ScrambleText(all)), all);
    EXPECT_EQ(ScrambleText("Z"), QByteArray(1, '\0'));
    EXPECT_EQ(ScrambleText("abc"), QByteArray("\x3B\x38\x39"));
}

TEST(ParseSettingsInt, ValueForms)
{
    struct Case { const char* text; int fallback; int expected; };
    const Case cases[] = {
        {"42", 0, 42},        {"-17", 0, -17},      {" 7 ", 0, 7},        {"+5", 0, 5},
        {"0x20", 0, 32},      {"0X1f", 0, 31},      {"$FF", 0, 255},      {"$FFFFFFFF", 0, -1},
        {"abc", 1, 1},        {"yes", 1, 1},        {"", 9, 9},           {"0x", 9, 9},
        {"12abc", 9, 9},      {"2147483647", 0, 2147483647},            {"-2147483648", 0, INT_MIN},
        {"2147483648", 9, 9}, {"0x100000000", 9, 9},                    {"99999999999999999999999", 9, 9},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseSettingsInt(c.text, c.fallback), c.expected) << c.text;
}

TEST_F(SettingsFile, MissingFileGivesDefaultsAndTheFirstSaveWritesAllKeysInOrder)
{
    TMainState state;
    LoadSettings(path(), state);
    ExpectDefaults(state);

    ASSERT_TRUE(SaveSettings(path(), state, QRect(400, 200, 600, 300)));
    EXPECT_EQ(ReadAll(path()),
              "[App]\nWindowX=400\nWindowY=200\nWindowW=600\nWindowH=300\nUSR=\nPWD=\nAnonymous=0\n"
              "TopMost=0\niMode=1\nbAutoReload=1\nbAutoRotation=1\niReload=60\niRotation=20\n");
    EXPECT_EQ(QFileInfo(path()).permissions() & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsFile, ValuesThatDoNotConvertReadAsTheKeysDefault)
{
    const TMainState s = LoadFrom("[App]\niMode=abc\nbAutoReload=2\nbAutoRotation=yes\nWindowX=0x20\n"
                                  "WindowY=$10\nAnonymous=1\nTopMost=0\niReload=90\niRotation=x30\n");
    EXPECT_EQ(s.DisplayMode, 1);
    EXPECT_TRUE(s.AutoReload);
    EXPECT_TRUE(s.AutoRotation);
    EXPECT_EQ(s.WindowLeft, 32);
    EXPECT_EQ(s.WindowTop, 16);
    EXPECT_TRUE(s.Anonymous);
    EXPECT_FALSE(s.TopMost);
    EXPECT_EQ(s.ReloadInterval, 90);
    EXPECT_EQ(s.RotationInterval, 20);
}

TEST_F(SettingsFile, SaveWritesStateAndBoundsAndReadsBack)
{
    TMainState state;
    SetDefaultSettings(state);
    state.WindowLeft = 1;  // the bounds, not these fields, are written
    state.AccountName = QStringLiteral("alice");
    state.Password = QStringLiteral("secret");
    state.Anonymous = true;
    state.TopMost = false;
    state.DisplayMode = 3;
    state.AutoReload = false;
    state.ReloadInterval = 90;
    state.RotationInterval = 30;
    const TMainState back = RoundTrip(state, QRect(-10, 20, 640, 120));
    EXPECT_EQ(back.WindowLeft, -10);
    EXPECT_EQ(back.WindowTop, 20);
    EXPECT_EQ(back.WindowWidth, 640);
    EXPECT_EQ(back.WindowHeight, 120);
    EXPECT_EQ(back.AccountName, QStringLiteral("alice"));
    EXPECT_EQ(back.Password, QStringLiteral("secret"));
    EXPECT_TRUE(back.Anonymous);
    EXPECT_FALSE(back.TopMost);
    EXPECT_EQ(back.DisplayMode, 3);
    EXPECT_FALSE(back.AutoReload);
    EXPECT_TRUE(back.AutoRotation);
    EXPECT_EQ(back.ReloadInterval, 90);
    EXPECT_EQ(back.RotationInterval, 30);
    const QByteArray text = ReadAll(path());
    EXPECT_TRUE(text.contains("\niReload=90\niRotation=30\n"));
    EXPECT_TRUE(text.contains("\nUSR=" + ScrambleText("alice") + "\n"));  // plain form as before
}

// Passwords that scramble into bytes an INI line cannot hold still come back whole.
TEST_F(SettingsFile, CredentialsSurviveAnyText)
{
    const QString passwords[] = {
        QStringLiteral("Z"),          QStringLiteral("ZZtopZ"),       QStringLiteral(" pad "),
        QStringLiteral("zz"),         QStringLiteral("\"quoted\""),    QStringLiteral("'single'"),
        QStringLiteral("x"),          QStringLiteral("two\r\nlines\n"), QStringLiteral("パスワード日本語"),
        QStringLiteral("back\\slash"), QStringLiteral("tab\tin"),       QStringLiteral(";comment=[App]"),
        QString(),
    };
    for (const QString& password : passwords) {
        TMainState state;
        SetDefaultSettings(state);
        state.AccountName = password;
        state.Password = password;
        const TMainState back = RoundTrip(state);
        EXPECT_EQ(back.AccountName, password) << password.toStdString();
        EXPECT_EQ(back.Password, password) << password.toStdString();
        // Every key still reads: an escaped value never breaks the lines after it.
        EXPECT_EQ(back.WindowWidth, 3);
        EXPECT_EQ(back.RotationInterval, 20);
    }
}

TEST_F(SettingsFile, UpdateKeepsEveryOtherLine)
{
    const QByteArray before =
        "; my settings\r\n[Other]\r\nWindowX=7\r\n\r\n[app]\r\nunknown=keep me\r\nwindowx=5\r\n; note\r\n\r\n[Last]\r\nk=v";
    WriteAll(path(), before);
    TMainState state;
    LoadSettings(path(), state);
    EXPECT_EQ(state.WindowLeft, 5);  // section and key names match without case
    ASSERT_TRUE(SaveSettings(path(), state, QRect(11, 22, 33, 44)));
    const QByteArray after = ReadAll(path());
    EXPECT_TRUE(after.startsWith("; my settings\r\n[Other]\r\nWindowX=7\r\n\r\n[app]\r\nunknown=keep me\r\nWindowX=11\r\n"
                                 "; note\r\nWindowY=22\r\n"))
        << after.toStdString();
    EXPECT_TRUE(after.endsWith("iRotation=20\r\n\r\n[Last]\r\nk=v")) << after.toStdString();
}

TEST_F(SettingsFile, SaveAddsTheSectionAfterALastLineWithoutLineEnd)
{
    WriteAll(path(), "[Other]\r\nk=v");
    TMainState state;
    SetDefaultSettings(state);
    state.AccountName = QStringLiteral("alice");
    state.DisplayMode = 3;
    state.Api = QStringLiteral("http://127.0.0.1:1");
    const TMainState back = RoundTrip(state, QRect(5, 6, 7, 8));
    EXPECT_EQ(back.WindowLeft, 5);
    EXPECT_EQ(back.WindowHeight, 8);
    EXPECT_EQ(back.AccountName, QStringLiteral("alice"));
    EXPECT_EQ(back.DisplayMode, 3);
    EXPECT_EQ(back.RotationInterval, 20);
    EXPECT_EQ(back.Api, state.Api);
    const QByteArray after = ReadAll(path());
    EXPECT_TRUE(after.startsWith("[Other]\r\nk=v\r\n[App]\r\nWindowX=5\r\n")) << after.toStdString();
    EXPECT_TRUE(TIniFile::FromBytes(after).Value("Other", "k") == "v");
}

TEST_F(SettingsFile, ApiKeyIsReadWhenPresentAndWrittenOnlyThen)
{
    TMainState state = LoadFrom("[App]\nAPI=http://127.0.0.1:8080/api\n");
    ASSERT_TRUE(state.Api.has_value());
    EXPECT_EQ(*state.Api, QStringLiteral("http://127.0.0.1:8080/api"));
    ASSERT_TRUE(SaveSettings(path(), state, QRect()));
    EXPECT_TRUE(ReadAll(path()).contains("API=http://127.0.0.1:8080/api\n"));

    QFile::remove(path());
    state.Api.reset();
    ASSERT_TRUE(SaveSettings(path(), state, QRect()));
    EXPECT_FALSE(ReadAll(path()).contains("API"));
}

TEST_F(SettingsFile, NotifyIsWrittenWhenOnOrAlreadyInTheFile)
{
    TMainState state = LoadFrom("[App]\nWindowX=5\n");
    EXPECT_FALSE(state.Notify);
    ASSERT_TRUE(SaveSettings(path(), state, QRect()));
    EXPECT_FALSE(ReadAll(path()).contains("Notify"));

    state.Notify = true;
    EXPECT_TRUE(RoundTrip(state).Notify);
    EXPECT_TRUE(ReadAll(path()).contains("\nNotify=1\n"));

    // Switched off again: the key stays, with the new value.
    state.Notify = false;
    EXPECT_FALSE(RoundTrip(state).Notify);
    EXPECT_TRUE(ReadAll(path()).contains("\nNotify=0\n"));

    // The third state: new mentions only.
    state.Notify = TMainState::NotifyMentions;
    EXPECT_EQ(RoundTrip(state).Notify, TMainState::NotifyMentions);
    EXPECT_TRUE(ReadAll(path()).contains("\nNotify=2\n"));
}

TEST_F(SettingsFile, BadInputLoadsDefaultsForWhatCannotBeRead)
{
    // No section header at all.
    ExpectDefaults(LoadFrom("WindowX=5\niMode=2\n"));
    // Binary garbage.
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 131 + 7) & 0xFF);
    ExpectDefaults(LoadFrom(garbage));
    // Invalid UTF-8 around good keys; duplicate sections and keys: the first counts.
    const TMainState dup = LoadFrom("\xFF\xFE[App]\n[App]\nWindowX=1\nWindowX=2\n\xC3\x28=\xE2\x82\n[App]\nWindowX=3\n"
                                    "iMode=\xFF\n");
    EXPECT_EQ(dup.WindowLeft, 1);
    EXPECT_EQ(dup.DisplayMode, 1);
    // A very long line, and one key after it.
    const TMainState longLine = LoadFrom("[App]\nUSR=" + QByteArray(4 << 20, 'q') + "\niMode=2\n");
    EXPECT_EQ(longLine.AccountName.size(), 4 << 20);
    EXPECT_EQ(longLine.DisplayMode, 2);
    // A NUL in the middle of a line and lone CRs.
    const TMainState nul = LoadFrom(QByteArray("[App]\riMode=3\n\0WindowX=9\nWindowY=8\r\r\n", 38));
    EXPECT_EQ(nul.WindowTop, 8);      // a stray CR counts as a blank
    EXPECT_EQ(nul.WindowLeft, 400);   // the key after the NUL is not a key
    EXPECT_EQ(nul.DisplayMode, 1);    // "[App]\riMode=3" is a header line only
}

TEST_F(SettingsFile, UnreadableOrUnwritableFile)
{
    // A folder where the file should be: load gives defaults, save fails with a reason.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("brimlark.ini/x")));
    TMainState state;
    LoadSettings(path(), state);
    ExpectDefaults(state);
    QString reason;
    EXPECT_FALSE(SaveSettings(path(), state, QRect(), &reason));
    EXPECT_FALSE(reason.isEmpty());

    // A folder that does not exist: nothing is written, nothing is left behind.
    const QString missing = dir.filePath(QStringLiteral("nope/brimlark.ini"));
    EXPECT_FALSE(SaveSettings(missing, state, QRect(), &reason));
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(SettingsFile, FailedSaveLeavesTheOldFileAndNoTemporaries)
{
    WriteAll(path(), "[App]\nWindowX=5\n");
    QFile(path()).setPermissions(QFileDevice::WriteOwner);  // unreadable: its lines cannot be kept
    TMainState state;
    SetDefaultSettings(state);
    // Refused by the mode bits, so for the administrator too.
    EXPECT_FALSE(SaveSettings(path(), state, QRect()));
    QFile(path()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(ReadAll(path()), "[App]\nWindowX=5\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(SettingsFile, SaveReplacesAFileAtomicallyWithOwnerOnlyRights)
{
    WriteAll(path(), "[App]\nWindowX=5\n");
    QFile(path()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                 | QFileDevice::ReadOther);
    TMainState state;
    SetDefaultSettings(state);
    ASSERT_TRUE(SaveSettings(path(), state, QRect(8, 0, 0, 0)));
    EXPECT_TRUE(ReadAll(path()).contains("WindowX=8\n"));
    EXPECT_EQ(Mode(path()), 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// A file or folder nobody may write stays as it was, whoever runs the program.
TEST_F(SettingsFile, ReadOnlyFileOrFolderIsLeftAsItWas)
{
    const QByteArray before = "[App]\nWindowX=5\n";
    TMainState state;
    SetDefaultSettings(state);
    for (const bool folder : {false, true}) {
        WriteAll(path(), before);
        const QString locked = folder ? dir.path() : path();
        ASSERT_EQ(chmod(QFile::encodeName(locked).constData(), folder ? 0555 : 0444), 0);
        QString reason;
        EXPECT_FALSE(SaveSettings(path(), state, QRect(9, 9, 9, 9), &reason)) << folder;
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_EQ(Mode(locked), folder ? 0555u : 0444u);
        ASSERT_EQ(chmod(QFile::encodeName(locked).constData(), folder ? 0700 : 0600), 0);
        EXPECT_EQ(ReadAll(path()), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("brimlark.ini")});
    }
}

// The link stays a link; its target, in another folder, is replaced.
TEST_F(SettingsFile, SymbolicLinkIsWrittenThrough)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("real")));
    const QString target = dir.filePath(QStringLiteral("real/target.ini"));
    WriteAll(target, "[Other]\nk=v\n");
    ASSERT_EQ(symlink("real/target.ini", QFile::encodeName(path()).constData()), 0);
    TMainState state;
    SetDefaultSettings(state);
    ASSERT_TRUE(SaveSettings(path(), state, QRect(7, 0, 0, 0)));
    EXPECT_EQ(QFileInfo(path()).symLinkTarget(), target);
    EXPECT_TRUE(ReadAll(target).startsWith("[Other]\nk=v\n[App]\nWindowX=7\n"));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("real"))).entryList(QDir::Files).size(), 1);

    // A link whose target is still missing makes the target.
    const QString later = dir.filePath(QStringLiteral("real/later.ini"));
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_EQ(symlink(QFile::encodeName(later).constData(), QFile::encodeName(path()).constData()), 0);
    ASSERT_TRUE(SaveSettings(path(), state, QRect(6, 0, 0, 0)));
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_TRUE(ReadAll(later).contains("WindowX=6\n"));
}

// A file from a Windows editor begins with a byte-order mark.
TEST_F(SettingsFile, ByteOrderMarkIsReadAndKept)
{
    const TMainState state = LoadFrom("\xEF\xBB\xBF[App]\r\nUSR=" + ScrambleText("alice") + "\r\niMode=2\r\n");
    EXPECT_EQ(state.AccountName, QStringLiteral("alice"));
    EXPECT_EQ(state.DisplayMode, 2);
    ASSERT_TRUE(SaveSettings(path(), state, QRect()));
    const QByteArray after = ReadAll(path());
    EXPECT_TRUE(after.startsWith("\xEF\xBB\xBF[App]\r\nUSR=" + ScrambleText("alice") + "\r\niMode=2\r\nWindowX=0\r\n"))
        << after.toStdString();
    EXPECT_EQ(after.count("[App]"), 1);
}

// Files written on Japanese Windows hold CP932, the credentials too (after unscrambling).
TEST_F(SettingsFile, Cp932TextIsReadAndKeptByteForByte)
{
    const QString name = QStringLiteral("ｱソ①山田");  // 0x5C as a second byte; an NEC row
    const QByteArray nameCp932 = "\xB1\x83\x5C\x87\x40\x8E\x52\x93\x63";
    const QByteArray usr = "USR=" + ScrambleText(nameCp932) + "\r\n";
    const QByteArray pwd = "PWD=" + ScrambleText("\x83\x70\x83\x58") + "\r\n";  // パス
    const QByteArray memo = "; \x90\xDD\x92\xE8\r\n[App]\r\nMemo=\x93\xFA\x96\x7B\r\n";
    TMainState state = LoadFrom(memo + usr + pwd + "API=http://127.0.0.1:1/\x83\x5C\r\n");
    EXPECT_EQ(state.AccountName, name);
    EXPECT_EQ(state.Password, QStringLiteral("パス"));
    EXPECT_EQ(state.Api, QStringLiteral("http://127.0.0.1:1/ソ"));

    ASSERT_TRUE(SaveSettings(path(), state, QRect(1, 2, 3, 4)));
    QByteArray after = ReadAll(path());
    EXPECT_TRUE(after.startsWith(memo + usr + pwd + "API=http://127.0.0.1:1/\x83\x5C\r\nWindowX=1\r\n"));

    // A changed name is written as UTF-8; the unchanged password keeps its bytes.
    state.AccountName = QStringLiteral("山田");
    ASSERT_TRUE(SaveSettings(path(), state, QRect(1, 2, 3, 4)));
    after = ReadAll(path());
    EXPECT_FALSE(after.contains(usr));
    EXPECT_TRUE(after.contains(pwd));
    TMainState back;
    LoadSettings(path(), back);
    EXPECT_EQ(back.AccountName, QStringLiteral("山田"));
}

TEST_F(SettingsFile, SavingCanMakeTheFolderOwnerOnly)
{
    const QString nested = dir.filePath(QStringLiteral("config/brimlark/brimlark.ini"));
    TMainState state;
    SetDefaultSettings(state);
    ASSERT_TRUE(SaveSettings(nested, state, QRect(), nullptr, TSettingsFolder::CreateOwnerOnly));
    EXPECT_TRUE(ReadAll(nested).startsWith("[App]\n"));
    EXPECT_EQ(Mode(dir.filePath(QStringLiteral("config"))), 0700u);
    EXPECT_EQ(Mode(dir.filePath(QStringLiteral("config/brimlark"))), 0700u);
}

// Restores an environment variable when the test ends.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const QString& value)
        : m_name(name), m_old(qgetenv(name)), m_wasSet(qEnvironmentVariableIsSet(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, QFile::encodeName(value));
    }
    ~EnvironmentVariable() { m_wasSet ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_wasSet;
};

TEST(SettingsPaths, BesideTheProgramWhenThereElseTheUsersFoldersNeverTheWorkingFolder)
{
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("bin/brimlark"));
    const EnvironmentVariable home("HOME", dir.filePath(QStringLiteral("home")));
    const EnvironmentVariable config("XDG_CONFIG_HOME", QString());
    EnvironmentVariable cache("XDG_CACHE_HOME", QStringLiteral("relative/is/ignored"));

    TSettingsPaths paths = ResolveSettingsPaths(exe, QString());
    EXPECT_EQ(paths.SettingsFile, dir.filePath(QStringLiteral("home/.config/brimlark/brimlark.ini")));
    EXPECT_EQ(paths.PostCopyFile, dir.filePath(QStringLiteral("home/.cache/brimlark/post.txt")));
    EXPECT_EQ(paths.TimelineCacheFile, dir.filePath(QStringLiteral("home/.cache/brimlark/timeline.json")));
    EXPECT_TRUE(paths.CreateFolder);
    EXPECT_EQ(paths.Keyring, TKeyringPolicy::ByDefault);

    const EnvironmentVariable xdgConfig("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xc")));
    const EnvironmentVariable xdgCache("XDG_CACHE_HOME", dir.filePath(QStringLiteral("xk")));
    paths = ResolveSettingsPaths(exe, QString());
    EXPECT_EQ(paths.SettingsFile, dir.filePath(QStringLiteral("xc/brimlark/brimlark.ini")));
    EXPECT_EQ(paths.PostCopyFile, dir.filePath(QStringLiteral("xk/brimlark/post.txt")));
    EXPECT_EQ(paths.TimelineCacheFile, dir.filePath(QStringLiteral("xk/brimlark/timeline.json")));

    // Named on the command line: that file, the copy in the user's cache.
    paths = ResolveSettingsPaths(exe, QStringLiteral("/elsewhere/my.ini"));
    EXPECT_EQ(paths.SettingsFile, QStringLiteral("/elsewhere/my.ini"));
    EXPECT_EQ(paths.PostCopyFile, dir.filePath(QStringLiteral("xk/brimlark/post.txt")));
    EXPECT_EQ(paths.TimelineCacheFile, dir.filePath(QStringLiteral("xk/brimlark/timeline.json")));
    EXPECT_FALSE(paths.CreateFolder);
    EXPECT_EQ(paths.Keyring, TKeyringPolicy::WhenChosen);

    // A file beside the program: everything stays in the program's folder.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("bin")));
    WriteAll(dir.filePath(QStringLiteral("bin/brimlark.ini")), "");
    paths = ResolveSettingsPaths(exe, QString());
    EXPECT_EQ(paths.SettingsFile, dir.filePath(QStringLiteral("bin/brimlark.ini")));
    EXPECT_EQ(paths.PostCopyFile, dir.filePath(QStringLiteral("bin/cache/post.txt")));
    EXPECT_EQ(paths.TimelineCacheFile, dir.filePath(QStringLiteral("bin/cache/timeline.json")));
    EXPECT_EQ(TimelineCacheFileBeside(paths.SettingsFile), paths.TimelineCacheFile);
    EXPECT_FALSE(paths.CreateFolder);
    EXPECT_EQ(paths.Keyring, TKeyringPolicy::Never);
}

// Where the file is sets the default; the key changes it, except beside the program.
TEST(PasswordStoreKey, ChoosesTheKeyringByPlaceAndValueAndIsNeverWritten)
{
    const struct {
        TKeyringPolicy policy;
        const char* line;
        bool keyring;
    } cases[] = {{TKeyringPolicy::ByDefault, "", true},
                 {TKeyringPolicy::ByDefault, "PasswordStore=file\r\n", false},
                 {TKeyringPolicy::ByDefault, "PasswordStore= Keyring \r\n", true},
                 {TKeyringPolicy::ByDefault, "PasswordStore=wallet\r\n", true},
                 {TKeyringPolicy::WhenChosen, "", false},
                 {TKeyringPolicy::WhenChosen, "PasswordStore=keyring\r\n", true},
                 {TKeyringPolicy::WhenChosen, "PasswordStore=wallet\r\n", false},
                 {TKeyringPolicy::Never, "PasswordStore=keyring\r\n", false}};
    for (const auto& c : cases) {
        TMainState state;
        TIniFile file = TIniFile::FromBytes(QByteArray("[App]\r\n") + c.line);
        ReadSettings(file, state);
        EXPECT_EQ(ChoosesKeyring(c.policy, state), c.keyring) << int(c.policy) << " " << c.line;
        WriteSettings(file, state, QRect(0, 0, 10, 10));
        EXPECT_EQ(file.ToBytes().count("PasswordStore"), QByteArray(c.line).count("PasswordStore")) << c.line;
    }
}

TEST(IniValue, PlainValuesStayByteExactAndEscapedOnesReadBack)
{
    for (const QByteArray& plain : {QByteArray("abc"), QByteArray("a b"), QByteArray("a\\b"), QByteArray("=;[x]"),
                                   QByteArray("\xE6\x97\xA5"), QByteArray("a\"b")})
        EXPECT_EQ(TIniFile::EncodeValue(plain), plain);
    for (const QByteArray& odd : {QByteArray(1, '\0'), QByteArray(" a"), QByteArray("a "), QByteArray("\"a\""),
                                 QByteArray("'a'"), QByteArray("\r\n"), QByteArray("\xB9\xDB"), QByteArray("\"\\x41\"")}) {
        const QByteArray encoded = TIniFile::EncodeValue(odd);
        EXPECT_TRUE(encoded.startsWith('"') && encoded.endsWith('"')) << encoded.toStdString();
        EXPECT_EQ(TIniFile::DecodeValue(encoded), odd) << encoded.toStdString();
        for (char c : encoded)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F);
    }
    // Quotes around a plain value in a hand-written file are removed, as before.
    EXPECT_EQ(TIniFile::DecodeValue("  'abc'  "), "abc");
    EXPECT_EQ(TIniFile::DecodeValue(" \"abc\" "), "abc");
}

TEST(ResolveApiBase, PrecedenceOptionEnvironmentFileDefault)
{
    TMainState state;
    qunsetenv("BRIMLARK_API");
    auto address = [&](const QStringList& args) { return ResolveApiBase(args, state).Address; };
    EXPECT_EQ(address({}), QStringLiteral("http://twitter.com"));
    state.Api = QStringLiteral("http://file.example/api/");
    EXPECT_EQ(address({}), QStringLiteral("http://file.example/api"));
    qputenv("BRIMLARK_API", "http://env.example");
    EXPECT_EQ(address({QStringLiteral("brimlark")}), QStringLiteral("http://env.example"));
    EXPECT_EQ(address({QStringLiteral("brimlark"), QStringLiteral("--api"), QStringLiteral("http://opt:1/x//")}),
              QStringLiteral("http://opt:1/x"));
    EXPECT_EQ(address({QStringLiteral("--api=http://eq.example")}), QStringLiteral("http://eq.example"));
    qunsetenv("BRIMLARK_API");
}

TEST(ResolveCaFile, SamePrecedenceAsTheAddressAndTheKeyIsNotWrittenWhenAbsent)
{
    qunsetenv("BRIMLARK_CA_FILE");
    TMainState state;
    EXPECT_TRUE(ResolveCaFile({}, state).isEmpty());
    state.CAFile = QStringLiteral("/file.pem");
    EXPECT_EQ(ResolveCaFile({}, state), QStringLiteral("/file.pem"));
    qputenv("BRIMLARK_CA_FILE", "/env.pem");
    EXPECT_EQ(ResolveCaFile({}, state), QStringLiteral("/env.pem"));
    EXPECT_EQ(ResolveCaFile({QStringLiteral("--ca-file"), QStringLiteral("/opt.pem")}, state), QStringLiteral("/opt.pem"));
    EXPECT_EQ(ResolveCaFile({QStringLiteral("--ca-file=/eq.pem")}, state), QStringLiteral("/eq.pem"));
    qunsetenv("BRIMLARK_CA_FILE");

    // Read from the file; a file without them gains neither key.
    TIniFile file = TIniFile::FromBytes("[App]\r\nCAFile=/etc/ca.pem\r\nProxy=none\r\n");
    ReadSettings(file, state);
    EXPECT_EQ(state.CAFile, QStringLiteral("/etc/ca.pem"));
    EXPECT_EQ(state.Proxy, QStringLiteral("none"));
    TIniFile empty = TIniFile::FromBytes("");
    TMainState fresh;
    ReadSettings(empty, fresh);
    WriteSettings(empty, fresh, QRect(0, 0, 10, 10));
    EXPECT_FALSE(empty.ToBytes().contains("CAFile"));
    EXPECT_FALSE(empty.ToBytes().contains("Proxy"));
}

// --lang over BRIMLARK_LANG over the key over Japanese; a value naming no language of
// the program's is passed over; the key is read from the file and never written.
TEST(ResolveLanguage, PrecedenceAndTheKeyIsNotWrittenWhenAbsent)
{
    qunsetenv("BRIMLARK_LANG");
    TMainState state;
    ReadSettings(TIniFile::FromBytes("[App]\r\nLanguage=en\r\n"), state);
    EXPECT_EQ(ResolveLanguage({}, state), TLanguage::English);
    qputenv("BRIMLARK_LANG", "ja_JP.UTF-8");
    EXPECT_EQ(ResolveLanguage({}, state), TLanguage::Japanese);
    EXPECT_EQ(ResolveLanguage({QStringLiteral("--lang=EN")}, state), TLanguage::English);
    qputenv("BRIMLARK_LANG", "de");
    EXPECT_EQ(ResolveLanguage({}, state), TLanguage::English);
    EXPECT_EQ(ResolveLanguage({QStringLiteral("--lang"), QStringLiteral("ja")}, state), TLanguage::Japanese);
    qunsetenv("BRIMLARK_LANG");
    state.Language.reset();
    qputenv("LANG", "en_US.UTF-8");  // the locale has no say
    EXPECT_EQ(ResolveLanguage({}, state), TLanguage::Japanese);

    TIniFile empty = TIniFile::FromBytes("");
    ReadSettings(empty, state);
    WriteSettings(empty, state, QRect(0, 0, 10, 10));
    EXPECT_FALSE(empty.ToBytes().contains("Language"));
}

// The same check for every source, and the line names the source that held the value.
TEST(ResolveApiBase, EverySourceIsCheckedAndNamed)
{
    TMainState state;
    qunsetenv("BRIMLARK_API");
    for (const QString& bad : {QStringLiteral("ftp://x"), QStringLiteral("garbage"), QStringLiteral("http://"),
                              QStringLiteral("http://h/?q=1"), QStringLiteral("http://u:p@h")}) {
        EXPECT_FALSE(CheckServiceAddress(bad).isEmpty()) << bad.toStdString();
        state.Api = bad;
        const TApiBase fromFile = ResolveApiBase({}, state);
        EXPECT_FALSE(fromFile.Error.isEmpty());
        EXPECT_TRUE(ApiBaseErrorLine(fromFile).contains(QStringLiteral("設定ファイルの API")));
        qputenv("BRIMLARK_API", bad.toUtf8());
        EXPECT_TRUE(ApiBaseErrorLine(ResolveApiBase({}, state)).contains(QStringLiteral("(BRIMLARK_API)")));
        EXPECT_TRUE(ApiBaseErrorLine(ResolveApiBase({QStringLiteral("--api"), bad}, state)).contains(QStringLiteral("(--api)")));
        qunsetenv("BRIMLARK_API");
    }
    EXPECT_TRUE(CheckServiceAddress(QStringLiteral("http://127.0.0.1:8080/api")).isEmpty());
}

} // namespace
