#include "settings/Settings.h"

#include "settings/AppFolders.h"
#include "settings/IniFile.h"
#include "settings/OwnerOnlyFile.h"
#include "text/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>

#include <cstdlib>

namespace {

const QByteArray kSection = "App";
constexpr char kScrambleKey = 0x5A;
const QString kDefaultApiBase = QStringLiteral("http://twitter.com");

bool ReadBool(const TIniFile& file, const char* key, bool fallback)
{
    const auto value = file.Value(kSection, key);
    return value ? ParseSettingsInt(*value, fallback ? 1 : 0) != 0 : fallback;
}

int ReadInt(const TIniFile& file, const char* key, int fallback)
{
    const auto value = file.Value(kSection, key);
    return value ? ParseSettingsInt(*value, fallback) : fallback;
}

std::optional<QString> ReadText(const TIniFile& file, const char* key)
{
    const auto value = file.Value(kSection, key);
    return value ? std::optional(TIniFile::DecodeText(*value)) : std::nullopt;
}

QString ReadScrambled(const TIniFile& file, const char* key)
{
    const auto value = file.Value(kSection, key);
    return value ? TIniFile::DecodeText(ScrambleText(*value)) : QString();
}

// A text the file already holds as the same text keeps its line, byte for byte: it may
// be CP932, which the program would otherwise rewrite as UTF-8.
void WriteText(TIniFile& file, const char* key, const QString& text, bool scrambled)
{
    const auto value = file.Value(kSection, key);
    if (value && TIniFile::DecodeText(scrambled ? ScrambleText(*value) : *value) == text)
        return;
    const QByteArray bytes = text.toUtf8();
    file.SetValue(kSection, key, scrambled ? ScrambleText(bytes) : bytes);
}

QString StripTrailingSlashes(QString base)
{
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

} // namespace

QString SettingsFileName(const QString& executablePath)
{
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString dir = executablePath.left(executablePath.size() - name.size());
    return dir + stem + QStringLiteral(".ini");
}

QString PostCopyFileBeside(const QString& settingsFile)
{
    return QFileInfo(settingsFile).dir().filePath(QStringLiteral("cache/post.txt"));
}

QString TimelineCacheFileBeside(const QString& settingsFile)
{
    return QFileInfo(settingsFile).dir().filePath(QStringLiteral("cache/timeline.json"));
}

TSettingsPaths ResolveSettingsPaths(const QString& executablePath, const QString& namedFile)
{
    const QString cacheFolder = UserFolder(TUserFolder::Cache) + QStringLiteral("/brimlark/");
    const QString postCopy = cacheFolder + QStringLiteral("post.txt");
    const QString timeline = cacheFolder + QStringLiteral("timeline.json");
    if (!namedFile.isEmpty())
        return {namedFile, false, postCopy, timeline, TKeyringPolicy::WhenChosen};
    // A file beside the program (a link too, even one whose target is still missing)
    // keeps everything in the program's folder, as a copy on a memory stick wants.
    const QString beside = SettingsFileName(executablePath);
    const QFileInfo info(beside);
    if (info.exists() || info.isSymLink())
        return {beside, false, PostCopyFileBeside(beside), TimelineCacheFileBeside(beside), TKeyringPolicy::Never};
    return {UserFolder(TUserFolder::Config) + QStringLiteral("/brimlark/brimlark.ini"), true, postCopy, timeline,
            TKeyringPolicy::ByDefault};
}

bool ChoosesKeyring(TKeyringPolicy policy, const TMainState& state)
{
    if (policy == TKeyringPolicy::Never)
        return false;
    const QString value = state.PasswordStore.value_or(QString()).trimmed().toLower();
    if (value == QLatin1String("keyring"))
        return true;
    if (value == QLatin1String("file"))
        return false;
    if (!value.isEmpty())
        qCWarning(lcSettings).noquote() << "PasswordStore" << *state.PasswordStore << "is neither keyring nor file; passed over";
    return policy == TKeyringPolicy::ByDefault;
}

QByteArray ScrambleText(const QByteArray& text)
{
    QByteArray out = text;
    for (char& c : out)
        c = char(c ^ kScrambleKey);
    return out;
}

int ParseSettingsInt(const QByteArray& text, int fallback)
{
    QByteArray t = text.trimmed();
    bool negative = false;
    if (t.startsWith('-') || t.startsWith('+')) {
        negative = t.startsWith('-');
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith("0x") || t.startsWith("0X")) {
        base = 16;
        t.remove(0, 2);
    } else if (t.startsWith('$')) {
        base = 16;
        t.remove(0, 1);
    }
    if (t.isEmpty() || t.size() > 20)
        return fallback;
    for (char c : t) {
        const bool digit = c >= '0' && c <= '9';
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hex))
            return fallback;
    }
    bool ok = false;
    const qulonglong magnitude = t.toULongLong(&ok, base);
    if (!ok)
        return fallback;
    if (base == 16) {
        // Hexadecimal covers the 32-bit pattern: "$FFFFFFFF" is -1.
        if (magnitude > 0xFFFFFFFFull)
            return fallback;
        const int value = int(quint32(magnitude));
        return negative ? int(0u - quint32(value)) : value;
    }
    if (negative ? magnitude > 2147483648ull : magnitude > 2147483647ull)
        return fallback;
    return negative ? int(-qint64(magnitude)) : int(magnitude);
}

void SetDefaultSettings(TMainState& state)
{
    state.WindowLeft = 400;
    state.WindowTop = 200;
    state.WindowWidth = 600;
    state.WindowHeight = 300;
    state.FrameStored = false;
    state.AccountName.clear();
    state.Password.clear();
    state.Anonymous = false;
    // A fresh start must not open an always-on-top window.
    state.TopMost = false;
    state.DisplayMode = 1;
    state.AutoReload = true;
    state.AutoRotation = true;
    state.ReloadInterval = 60;
    state.RotationInterval = 20;
    state.IntervalsChosen = false;
    state.Notify = TMainState::NotifyOff;
    state.Api.reset();
    state.CAFile.reset();
    state.Proxy.reset();
    state.Language.reset();
    state.PasswordStore.reset();
    state.Fediverse.reset();
    state.ClientId.reset();
    state.Token.clear();
    state.ClientSecret.clear();
}

void ReadSettings(const TIniFile& file, TMainState& state)
{
    SetDefaultSettings(state);
    state.WindowLeft = ReadInt(file, "WindowX", state.WindowLeft);
    state.WindowTop = ReadInt(file, "WindowY", state.WindowTop);
    state.WindowWidth = ReadInt(file, "WindowW", state.WindowWidth);
    state.WindowHeight = ReadInt(file, "WindowH", state.WindowHeight);
    state.FrameStored = file.Value(kSection, "WindowH").has_value();
    state.AccountName = ReadScrambled(file, "USR");
    state.Password = ReadScrambled(file, "PWD");
    state.Anonymous = ReadBool(file, "Anonymous", state.Anonymous);
    state.TopMost = ReadBool(file, "TopMost", state.TopMost);
    state.DisplayMode = ReadInt(file, "iMode", state.DisplayMode);
    state.AutoReload = ReadBool(file, "bAutoReload", state.AutoReload);
    state.AutoRotation = ReadBool(file, "bAutoRotation", state.AutoRotation);
    state.ReloadInterval = ReadInt(file, "iReload", state.ReloadInterval);
    state.RotationInterval = ReadInt(file, "iRotation", state.RotationInterval);
    state.IntervalsChosen = ReadBool(file, "IntervalsChosen", state.IntervalsChosen);
    // Any other number that is not 0 is on, as the flag of older files was.
    const int notify = ReadInt(file, "Notify", state.Notify);
    state.Notify = notify == TMainState::NotifyMentions ? TMainState::NotifyMentions
                 : notify != 0                          ? TMainState::NotifyAll
                                                        : TMainState::NotifyOff;
    state.Api = ReadText(file, "API");
    state.CAFile = ReadText(file, "CAFile");
    state.Proxy = ReadText(file, "Proxy");
    state.Language = ReadText(file, "Language");
    state.PasswordStore = ReadText(file, "PasswordStore");
    state.Fediverse = ReadText(file, "Fediverse");
    state.ClientId = ReadText(file, "ClientId");
    state.Token = ReadScrambled(file, "Token");
    state.ClientSecret = ReadScrambled(file, "ClientSecret");
}

void WriteSettings(TIniFile& file, const TMainState& state, const QRect& bounds)
{
    auto number = [](int value) { return QByteArray::number(value); };
    auto flag = [](bool value) { return QByteArray(value ? "1" : "0"); };
    file.SetValue(kSection, "WindowX", number(bounds.left()));
    file.SetValue(kSection, "WindowY", number(bounds.top()));
    file.SetValue(kSection, "WindowW", number(bounds.width()));
    file.SetValue(kSection, "WindowH", number(bounds.height()));
    WriteText(file, "USR", state.AccountName, true);
    WriteText(file, "PWD", state.Password, true);
    file.SetValue(kSection, "Anonymous", flag(state.Anonymous));
    file.SetValue(kSection, "TopMost", flag(state.TopMost));
    file.SetValue(kSection, "iMode", number(state.DisplayMode));
    file.SetValue(kSection, "bAutoReload", flag(state.AutoReload));
    file.SetValue(kSection, "bAutoRotation", flag(state.AutoRotation));
    file.SetValue(kSection, "iReload", number(state.ReloadInterval));
    file.SetValue(kSection, "iRotation", number(state.RotationInterval));
    if (state.IntervalsChosen)
        file.SetValue(kSection, "IntervalsChosen", flag(true));
    // A file that has the key gets the new value, so switching it off is kept too.
    if (state.Notify != TMainState::NotifyOff || file.Value(kSection, "Notify").has_value())
        file.SetValue(kSection, "Notify", QByteArray::number(state.Notify));
    if (state.Api)
        WriteText(file, "API", *state.Api, false);
    // Keys today's program never reads: a file without a fediverse account gets none.
    if (state.Fediverse)
        WriteText(file, "Fediverse", *state.Fediverse, false);
    if (state.ClientId)
        WriteText(file, "ClientId", *state.ClientId, false);
    if (!state.Token.isEmpty() || file.Value(kSection, "Token").has_value())
        WriteText(file, "Token", state.Token, true);
    if (!state.ClientSecret.isEmpty() || file.Value(kSection, "ClientSecret").has_value())
        WriteText(file, "ClientSecret", state.ClientSecret, true);
}

void LoadSettings(const QString& fileName, TMainState& state)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            qCDebug(lcSettings) << "settings file not readable:" << fileName << file.errorString();
        SetDefaultSettings(state);
        return;
    }
    ReadSettings(TIniFile::FromBytes(file.readAll()), state);
}

bool SaveSettings(const QString& fileName, const TMainState& state, const QRect& bounds, QString* error,
                  TSettingsFolder folder)
{
    if (folder == TSettingsFolder::CreateOwnerOnly
        && !MakeOwnerOnlyFolder(QFileInfo(fileName).absolutePath(), error))
        return false;
    QByteArray existing;
    QFile file(fileName);
    if (QFileInfo::exists(fileName)) {  // a link to a missing file has nothing to keep
        // Rewriting a file we cannot read would drop its other lines. A file nobody may
        // read is not read even where the rights would allow it.
        constexpr QFileDevice::Permissions anyRead
            = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        if (!(file.permissions() & anyRead)) {
            if (error)
                *error = QStringLiteral("file not readable: nobody may read it");
            return false;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = file.errorString();
            return false;
        }
        existing = file.readAll();
        file.close();
    }
    TIniFile ini = TIniFile::FromBytes(existing);
    WriteSettings(ini, state, bounds);
    return WriteOwnerOnlyFileAtomically(fileName, ini.ToBytes(), error);
}

QString CheckServiceAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (address.trimmed().isEmpty())
        return QStringLiteral("the address is empty");
    if (!url.isValid())
        return QStringLiteral("not a valid address");
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return QStringLiteral("only http:// and https:// addresses are supported");
    if (url.host().isEmpty())
        return QStringLiteral("the address has no host");
    if (url.hasQuery() || url.hasFragment())
        return QStringLiteral("the address must not have a query or a fragment");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("put the account name and password in the login dialog, not in the address");
    return QString();
}

namespace {

// The value of the first "--NAME VALUE" or "--NAME=VALUE" in args with a value.
std::optional<QString> OptionValue(const QStringList& args, const QString& option)
{
    const QString withValue = option + u'=';
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == option && i + 1 < args.size() && !args[i + 1].isEmpty())
            return args[i + 1];
        if (arg.startsWith(withValue) && arg.size() > withValue.size())
            return arg.mid(withValue.size());
    }
    return std::nullopt;
}

// A value and its source by the program's precedence: "--NAME VALUE" or "--NAME=VALUE"
// in args, then the environment variable, then the settings key; nothing when none is set.
std::optional<std::pair<QString, QString>> FirstSetting(const QStringList& args, const QString& option,
                                                         const char* environment, const std::optional<QString>& key,
                                                         const QString& keyName)
{
    if (const auto value = OptionValue(args, option))
        return std::pair{*value, option};
    const QString env = qEnvironmentVariable(environment);
    if (!env.isEmpty())
        return std::pair{env, QString::fromLatin1(environment)};
    if (key && !key->isEmpty())
        return std::pair{*key, keyName};
    return std::nullopt;
}

} // namespace

TApiBase ResolveApiBase(const QStringList& args, const TMainState& state)
{
    TApiBase api{kDefaultApiBase, {}, {}};
    if (const auto set = FirstSetting(args, QStringLiteral("--api"), "BRIMLARK_API", state.Api, QStringLiteral("API")))
        api = {set->first, set->second, {}};
    api.Address = StripTrailingSlashes(api.Address);
    api.Error = CheckServiceAddress(api.Address);
    if (!api.Error.isEmpty())
        qCWarning(lcSettings).noquote() << "service address from" << api.Source << "refused:" << api.Address << "-" << api.Error;
    return api;
}

QString ResolveCaFile(const QStringList& args, const TMainState& state)
{
    const auto set = FirstSetting(args, QStringLiteral("--ca-file"), "BRIMLARK_CA_FILE", state.CAFile, QStringLiteral("CAFile"));
    return set ? set->first : QString();
}

QString ApiBaseErrorLine(const TApiBase& api)
{
    const QString source = api.Source == QLatin1String("API") ? QCoreApplication::translate("Settings", "設定ファイルの API")
                         : api.Source.isEmpty() ? QCoreApplication::translate("Settings", "既定値") : api.Source;
    return QCoreApplication::translate("Settings", "サービスのアドレスが使えません (%1): %2 (%3)")
        .arg(source, api.Address, api.Error);
}

std::optional<TLanguage> ParseLanguage(const QString& name)
{
    // The language part of a locale name: "en" of "en_GB.UTF-8". Split by hand: a
    // regular expression here would load and run the pattern compiler at every start.
    const QString trimmed = name.trimmed();
    qsizetype end = 0;
    while (end < trimmed.size() && !QStringView(u"_.@-").contains(trimmed.at(end)))
        ++end;
    const QString code = trimmed.left(end).toLower();
    if (code == QLatin1String("ja"))
        return TLanguage::Japanese;
    if (code == QLatin1String("en"))
        return TLanguage::English;
    return std::nullopt;
}

TLanguage ResolveLanguage(const QStringList& args, const TMainState& state)
{
    const std::optional<QString> sources[] = {OptionValue(args, QStringLiteral("--lang")),
                                              qEnvironmentVariable("BRIMLARK_LANG"), state.Language};
    for (const std::optional<QString>& source : sources) {
        if (!source || source->isEmpty())
            continue;
        if (const auto language = ParseLanguage(*source))
            return *language;
        qCWarning(lcSettings).noquote() << "language" << *source << "is neither ja nor en; passed over";
    }
    return TLanguage::Japanese;
}
