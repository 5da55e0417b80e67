// The password in the desktop's keyring, against a keyring of the test's own, and the
// settings file that keeps it where there is no keyring.
#include "SecretService.h"
#include "SessionBus.h"
#include "settings/IniFile.h"
#include "settings/PasswordStore.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

// Waits for a keyring write under way to end, as the closing window does: whether the
// keyring now holds the password last saved.
bool FinishWriting(TPasswordStore& store)
{
    if (!store.Writing())
        return false;
    QSignalSpy stored(&store, &TPasswordStore::Stored);
    QSignalSpy unusable(&store, &TPasswordStore::KeyringUnusable);
    QElapsedTimer clock;
    clock.start();
    while (stored.isEmpty() && unusable.isEmpty() && clock.elapsed() < 2 * TPasswordStore::kTimeLimitMs)
        QTest::qWait(10);
    return !stored.isEmpty();
}

const QString kApi = QStringLiteral("http://service.example");

class StoreTest : public ::testing::Test {
protected:
    QString ini() const { return m_dir.filePath(QStringLiteral("brimlark.ini")); }
    // "PWD" as the file holds it: scrambled, empty, or "(none)".
    QByteArray filePwd() const { return TIniFile::FromBytes(ReadAll(ini())).Value("App", "PWD").value_or("(none)"); }
    static TMainState Account(const QString& name, const QString& password)
    {
        TMainState state;
        SetDefaultSettings(state);
        state.AccountName = name;
        state.Password = password;
        state.ApiBase = kApi;
        return state;
    }
    bool Save(TPasswordStore& store, const TMainState& state) { return store.Save(ini(), state, QRect(1, 2, 300, 200)); }
    // What the keyring holds for the account, read as at a start-up by a store of its own.
    static QString InKeyring(const QString& name)
    {
        TPasswordStore store(true);
        QSignalSpy read(&store, &TPasswordStore::PasswordRead);
        EXPECT_TRUE(store.StartRead(Account(name, QString())));
        EXPECT_TRUE(read.wait(10000));
        EXPECT_TRUE(store.Note().isEmpty());
        return read.isEmpty() ? QStringLiteral("(no answer)") : read.first().first().toString();
    }

    QTemporaryDir m_dir;
};

class KeyringStore : public StoreTest {
protected:
    static void SetUpTestSuite()
    {
        s_keyring = std::make_unique<SecretService>();
        s_keyring->UseInThisProcess();
    }
    static void TearDownTestSuite() { s_keyring.reset(); }
    void SetUp() override { ASSERT_TRUE(s_keyring->isRunning()) << s_keyring->errorString().toStdString(); }
    static inline std::unique_ptr<SecretService> s_keyring;
};

TEST_F(KeyringStore, TheFileKeepsThePasswordUntilTheKeyringConfirmsIt)
{
    TPasswordStore store(true);
    QSignalSpy stored(&store, &TPasswordStore::Stored);
    ASSERT_TRUE(Save(store, Account(QStringLiteral("alice"), QStringLiteral("secret"))));
    // What a process ended now leaves: the password in the file.
    EXPECT_EQ(filePwd(), ScrambleText("secret"));
    ASSERT_TRUE(stored.wait(10000));
    ASSERT_TRUE(Save(store, Account(QStringLiteral("alice"), QStringLiteral("secret"))));
    EXPECT_EQ(filePwd(), QByteArray());
    EXPECT_EQ(InKeyring(QStringLiteral("alice")), QStringLiteral("secret"));

    // A new password is in the file again until the keyring has it; an empty one takes
    // the entry out.
    ASSERT_TRUE(Save(store, Account(QStringLiteral("alice"), QStringLiteral("changed"))));
    EXPECT_EQ(filePwd(), ScrambleText("changed"));
    ASSERT_TRUE(stored.wait(10000));
    EXPECT_EQ(InKeyring(QStringLiteral("alice")), QStringLiteral("changed"));
    ASSERT_TRUE(Save(store, Account(QStringLiteral("alice"), QString())));
    ASSERT_TRUE(stored.wait(10000));
    EXPECT_EQ(InKeyring(QStringLiteral("alice")), QString());
}

// The file's scrambled password is the newest there is (written by a save the keyring
// had not confirmed yet, or without a keyring): it is used, and moved at the next save.
TEST_F(KeyringStore, AScrambledPasswordInTheFileWinsAndMovesAtTheNextSave)
{
    {
        TPasswordStore earlier(true);
        QSignalSpy stored(&earlier, &TPasswordStore::Stored);
        ASSERT_TRUE(Save(earlier, Account(QStringLiteral("bob"), QStringLiteral("stale"))));
        ASSERT_TRUE(stored.wait(10000));
    }
    WriteAll(ini(), "; kept\r\n[App]\r\nUSR=" + ScrambleText("bob") + "\r\nPWD=" + ScrambleText("newest") + "\r\n");
    TMainState state;
    LoadSettings(ini(), state);
    state.ApiBase = kApi;
    TPasswordStore store(ChoosesKeyring(TKeyringPolicy::ByDefault, state));
    EXPECT_FALSE(store.StartRead(state)) << "the keyring is not asked";
    EXPECT_EQ(state.Password, QStringLiteral("newest"));

    ASSERT_TRUE(Save(store, state));
    EXPECT_TRUE(FinishWriting(store));
    ASSERT_TRUE(Save(store, state));
    EXPECT_EQ(filePwd(), QByteArray());
    EXPECT_TRUE(ReadAll(ini()).startsWith("; kept\r\n[App]\r\n"));
    EXPECT_EQ(InKeyring(QStringLiteral("bob")), QStringLiteral("newest"));
}

// A fediverse account's token and the program's client secret go to the keyring like the
// password, each under its own key, and come back together at the next start.
TEST_F(KeyringStore, TheTokenAndTheClientSecretGoWhereThePasswordGoes)
{
    TMainState state = Account(QStringLiteral("erin"), QString());
    state.Fediverse = QStringLiteral("https://social.example");
    state.ClientId = QStringLiteral("cid");
    state.Token = QStringLiteral("tok");
    state.ClientSecret = QStringLiteral("csecret");
    const auto fileValue = [this](const char* key) {
        return TIniFile::FromBytes(ReadAll(ini())).Value("App", key).value_or("(none)");
    };
    {
        TPasswordStore store(true);
        ASSERT_TRUE(Save(store, state));
        EXPECT_EQ(fileValue("Token"), ScrambleText("tok"));
        EXPECT_TRUE(FinishWriting(store));
        ASSERT_TRUE(Save(store, state));
        EXPECT_EQ(fileValue("Token"), QByteArray());
        EXPECT_EQ(fileValue("ClientSecret"), QByteArray());
        EXPECT_EQ(fileValue("Fediverse"), QByteArray("https://social.example"));
    }
    TMainState loaded;
    LoadSettings(ini(), loaded);
    loaded.ApiBase = kApi;
    ASSERT_TRUE(loaded.Fediverse && loaded.Token.isEmpty());
    TPasswordStore store(true);
    QSignalSpy secrets(&store, &TPasswordStore::SecretsRead);
    QSignalSpy password(&store, &TPasswordStore::PasswordRead);
    ASSERT_TRUE(store.StartRead(loaded));
    ASSERT_TRUE(password.wait(10000));
    ASSERT_EQ(secrets.count(), 1);
    EXPECT_EQ(secrets.first(), (QList<QVariant>{QStringLiteral("tok"), QStringLiteral("csecret")}));
}

TEST_F(KeyringStore, TheFileChosenOrAPortableCopyKeepTheScrambledPassword)
{
    const std::pair<TKeyringPolicy, const char*> cases[] = {{TKeyringPolicy::ByDefault, "file"},
                                                            {TKeyringPolicy::Never, "keyring"}};
    for (const auto& [policy, choice] : cases) {
        TMainState state = Account(QStringLiteral("carol"), QStringLiteral("pw"));
        state.PasswordStore = QString::fromLatin1(choice);
        TPasswordStore store(ChoosesKeyring(policy, state));
        ASSERT_TRUE(Save(store, state));
        EXPECT_FALSE(FinishWriting(store)) << choice;
        EXPECT_EQ(filePwd(), ScrambleText("pw")) << choice;
        EXPECT_EQ(InKeyring(QStringLiteral("carol")), QString()) << choice;
    }
}

// A Secret Service that takes every call and never answers.
class SilentSecrets : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

enum class TAbsence { NoBus, NoSecretService, SilentSecretService };

class NoKeyring : public StoreTest, public ::testing::WithParamInterface<TAbsence> {};

TEST_P(NoKeyring, ThePasswordStaysInTheFileAndTheLineComesOnce)
{
    std::unique_ptr<SessionBus> bus;
    SilentSecrets silent;
    const QString connection = QStringLiteral("silent-secrets");
    if (GetParam() == TAbsence::NoBus) {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));  // no bus socket in it
    } else {
        bus = std::make_unique<SessionBus>();
        ASSERT_TRUE(bus->isRunning()) << bus->errorString().toStdString();
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
    }
    if (GetParam() == TAbsence::SilentSecretService) {
        QDBusConnection c = QDBusConnection::connectToBus(bus->address(), connection);
        ASSERT_TRUE(c.registerService(QStringLiteral("org.freedesktop.secrets")));
        ASSERT_TRUE(c.registerVirtualObject(QStringLiteral("/"), &silent, QDBusConnection::SubPath));
    }
    constexpr int kLimitMs = 400;
    const QString note = QStringLiteral("キーリングが使えないため、パスワードは設定ファイルに保存します");

    // Asked at start-up: the answer (no password) comes from the event loop, in time.
    TPasswordStore reader(true, nullptr, kLimitMs);
    QSignalSpy read(&reader, &TPasswordStore::PasswordRead);
    QSignalSpy unusable(&reader, &TPasswordStore::KeyringUnusable);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(reader.StartRead(Account(QStringLiteral("dave"), QString())));
    EXPECT_TRUE(read.isEmpty());
    ASSERT_TRUE(read.wait(10000));
    EXPECT_LT(clock.elapsed(), kLimitMs + 1500);
    EXPECT_EQ(read.first().first().toString(), QString());
    ASSERT_EQ(unusable.count(), 1);
    EXPECT_EQ(unusable.first().first().toString(), note);

    // Saved: scrambled in the file at once and after the failed write, save after save,
    // said once.
    TPasswordStore writer(true, nullptr, kLimitMs);
    QSignalSpy writerUnusable(&writer, &TPasswordStore::KeyringUnusable);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(Save(writer, Account(QStringLiteral("dave"), QStringLiteral("pw"))));
        EXPECT_EQ(filePwd(), ScrambleText("pw"));
        EXPECT_FALSE(FinishWriting(writer));
        EXPECT_EQ(filePwd(), ScrambleText("pw"));
    }
    EXPECT_EQ(writerUnusable.count(), 1);
    EXPECT_EQ(writer.Note(), note);
    QDBusConnection::disconnectFromBus(connection);
}

INSTANTIATE_TEST_SUITE_P(Absent, NoKeyring,
                         ::testing::Values(TAbsence::NoBus, TAbsence::NoSecretService, TAbsence::SilentSecretService),
                         [](const ::testing::TestParamInfo<TAbsence>& info) {
                             return std::string(info.param == TAbsence::NoBus             ? "NoBus"
                                                : info.param == TAbsence::NoSecretService ? "NoSecretService"
                                                                                          : "SilentSecretService");
                         });

} // namespace

// The keyring library keeps its bus connection for the life of a process, so each
// environment gets a process of its own: without a filter, the program runs itself once
// for each.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(filter) != "*")
        return RUN_ALL_TESTS();
    int failed = 0;
    for (const char* group : {"KeyringStore.*", "*/NoBus", "*/NoSecretService", "*/SilentSecretService"}) {
        const int code = QProcess::execute(QCoreApplication::applicationFilePath(),
                                           {QStringLiteral("--gtest_filter=") + QLatin1String(group)});
        if (code != 0) {
            std::printf("FAILED: %s (exit %d)\n", group, code);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
