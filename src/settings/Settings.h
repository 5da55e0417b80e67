#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

// The main window's state beyond its controls, in the order the window holds it.
// Fields start at zero/false/empty: a load that stops early leaves the rest so.
struct TMainState {
    QString AccountName;        // Credentials: empty means not entered
    QString Password;
    QString ApiBase;            // service base address (no trailing slash), set at start-up
    QString TimelineAddress;    // ApiBase + "/statuses/friends_timeline.xml"
    int WindowLeft = 0;
    int WindowTop = 0;
    int WindowHeight = 0;
    int WindowWidth = 0;
    // The file held the window's height: its bounds, not the list mode's own height, come
    // back at start-up. Read only.
    bool FrameStored = false;
    bool Anonymous = false;
    bool TopMost = false;       // kept with the menu's tick; absent: not top-most
    int DisplayMode = 0;        // 1 list, 2 compact, 3 widget
    bool AutoReload = false;
    bool AutoRotation = false;
    int ReloadInterval = 0;     // seconds
    int RotationInterval = 0;   // seconds
    // Key "IntervalsChosen": the user set the two intervals in the settings dialog, so
    // they drive the timers. Absent (every file from before, and one never changed
    // there): the timers keep their own 60 s and 5 s. Written only when set.
    bool IntervalsChosen = false;
    // Key "Notify": desktop notifications; absent or 0 off, 1 every new status (what
    // older files say when on), 2 new mentions only. Written when on, or when the file
    // already has it, so switching it off sticks.
    enum TNotify { NotifyOff = 0, NotifyAll = 1, NotifyMentions = 2 };
    int Notify = NotifyOff;
    // Optional key "API" in section "App": read when present, written back only then.
    std::optional<QString> Api;
    // Optional keys "CAFile" and "Proxy": read when present; the file keeps them as they are.
    std::optional<QString> CAFile;
    std::optional<QString> Proxy;
    // Optional key "Language" ("ja" or "en"): read when present, never written.
    std::optional<QString> Language;
    // Optional key "PasswordStore" ("keyring" or "file"): read when present, never written.
    std::optional<QString> PasswordStore;
    // Optional key "Fediverse": the origin (scheme://host[:port]) of the address found to
    // speak the fediverse's client API, so a start-up need not ask again; "ClientId": the
    // program's registration there. Written when set.
    std::optional<QString> Fediverse;
    std::optional<QString> ClientId;
    // That server's access token and the registration's secret: scrambled in "Token" and
    // "ClientSecret" like the password, or in the keyring. Written when set or already there.
    QString Token;
    QString ClientSecret;

    bool HasCredentials() const
    {
        return (!AccountName.isEmpty() && !Password.isEmpty()) || (Fediverse && !Token.isEmpty());
    }
};

// The settings file beside the program: the executable's path with its extension
// replaced by ".ini".
QString SettingsFileName(const QString& executablePath);

// Whether the password may go to the desktop's keyring, by where the settings file is.
enum class TKeyringPolicy {
    Never,          // a copy run from its own folder: nothing leaves that folder
    WhenChosen,     // a file named on the command line: only with "PasswordStore=keyring"
    ByDefault,      // the user's settings folder: unless "PasswordStore=file"
};

// The policy with the file's "PasswordStore" key: true when the password goes to the
// keyring. A value that is neither "keyring" nor "file" is passed over, with a warning.
bool ChoosesKeyring(TKeyringPolicy policy, const TMainState& state);

// Where the program keeps its files.
struct TSettingsPaths {
    QString SettingsFile;
    bool CreateFolder = false;  // the settings file's folder is made (owner-only) on saving
    QString PostCopyFile;       // the copy of the last post's body
    QString TimelineCacheFile;  // the last timeline read, in the post copy's folder
    TKeyringPolicy Keyring = TKeyringPolicy::Never;
};

// The folder's "cache/post.txt": the post body copy of a program run from its own folder.
QString PostCopyFileBeside(const QString& settingsFile);

// The folder's "cache/timeline.json": the timeline copy beside PostCopyFileBeside's file.
QString TimelineCacheFileBeside(const QString& settingsFile);

// namedFile (from "--settings FILE") when given, with the copy in the user's cache
// folder; else the file beside the program when there is one, with the copy beside it
// too; else "brimlark/brimlark.ini" in the user's configuration folder and
// "brimlark/post.txt" in the user's cache folder. Never the working folder. The
// timeline copy is "timeline.json" in the post copy's folder in every case. Only the
// file in the user's configuration folder puts the password in the keyring by default;
// the one beside the program never does.
TSettingsPaths ResolveSettingsPaths(const QString& executablePath, const QString& namedFile);

// XOR of every byte with 0x5A; its own inverse. Every byte is combined, a NUL too, so
// that a text with a "Z" (which scrambles to NUL) reads back whole; the INI layer
// writes such values in its escaped form.
QByteArray ScrambleText(const QByteArray& text);

class TIniFile;

// The state a missing file gives: window 400, 200, 600 x 300, no credentials, list
// mode, both timers on, intervals 60 and 20, top-most flag on. Leaves the address
// fields alone.
void SetDefaultSettings(TMainState& state);

// Section "App" of an INI file held in memory into state: defaults first, then every
// key that is present and converts. Never throws.
void ReadSettings(const TIniFile& file, TMainState& state);

// The thirteen keys in their order (and "API" when state.Api is set, "IntervalsChosen"
// when true, "Notify" when true or already in the file) into section "App", keeping
// every other line.
void WriteSettings(TIniFile& file, const TMainState& state, const QRect& bounds);

// An integer value: signed decimal, or hexadecimal after "0x", "0X" or "$"; anything
// else (or a number out of the 32-bit range) gives fallback.
int ParseSettingsInt(const QByteArray& text, int fallback);

// Reads section "App" into state (defaults for missing or unreadable values).
// Never throws; a file that cannot be read at all yields the defaults.
void LoadSettings(const QString& fileName, TMainState& state);

enum class TSettingsFolder {
    MustExist,
    CreateOwnerOnly,    // made with its missing parents, readable by the owner only
};

// Writes the thirteen keys (and "API" when state.Api is set) with the window's actual
// bounds, keeping every other line of an existing file, and every text value that did
// not change byte for byte. Atomic (temporary file and rename) and owner-only (0600);
// a link's target is written. A file or folder that may not be written or read is left
// as it is. Returns false with a reason when it could not write.
bool SaveSettings(const QString& fileName, const TMainState& state, const QRect& bounds,
                  QString* error = nullptr, TSettingsFolder folder = TSettingsFolder::MustExist);

// The service's base address and where it came from.
struct TApiBase {
    QString Address;    // no trailing slash
    QString Source;     // "--api", "BRIMLARK_API", "API" (the settings file) or empty for the default
    QString Error;      // why Address cannot be used; empty when it can
};

// Why an address cannot be the service's base: empty when it can. One check for every
// source: an absolute http address with a host, no query and no fragment.
QString CheckServiceAddress(const QString& address);

// The service's base address, by precedence: "--api URL" in args, the environment
// variable BRIMLARK_API, state.Api, then "http://twitter.com"; checked.
TApiBase ResolveApiBase(const QStringList& args, const TMainState& state);

// The status line for an address that cannot be used, naming where it came from.
QString ApiBaseErrorLine(const TApiBase& api);

// A PEM file of extra trusted certificates, with the address's precedence: "--ca-file
// PATH", the environment variable BRIMLARK_CA_FILE, then the key "CAFile"; empty: none.
QString ResolveCaFile(const QStringList& args, const TMainState& state);

// The languages of the program's texts. Every text's source is the Japanese one.
enum class TLanguage {
    Japanese,
    English,
};

// "ja" or "en" in any case, with a region or an encoding after it too ("en_GB.UTF-8");
// nothing for anything else.
std::optional<TLanguage> ParseLanguage(const QString& name);

// The language of the texts, by the address's precedence: "--lang NAME" in args, the
// environment variable BRIMLARK_LANG, the key "Language", then Japanese, whatever the
// system's locale says. A value that names no language of the program's is passed over.
TLanguage ResolveLanguage(const QStringList& args, const TMainState& state);
