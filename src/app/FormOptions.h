#pragma once

#include "service/TimelineRead.h"
#include "settings/Settings.h"

#include <QString>
#include <QStringList>

#include <optional>

class TTimelineReader;

// Where a main window takes its configuration from, so tests can use temporary files.
struct TForm1Options {
    QString SettingsFile;       // the INI file read at creation and written at close
    bool CreateSettingsFolder = false;  // its folder is made (owner-only) at close
    TKeyringPolicy Keyring = TKeyringPolicy::Never;  // whether the password may go to the keyring
    QString PostCopyFile;       // the post body copy; empty: "cache/post.txt" beside SettingsFile
    QString TimelineCacheFile;  // the offline copy; empty: "cache/timeline.json" beside SettingsFile
    QStringList Arguments;      // the command line, for "--api URL"
    TReadBounds Bounds;         // of every timeline read
    int ReloadIntervalMs = 60000;   // the automatic reload's normal wait
    int ShowWindowAfterMs = 500;    // a slower start-up read shows the window before it ends
    bool ReadServerConfig = true;   // ask the server for its text limit after the first good read
    // Read the mentions after the first frame and after each read that brought news.
    bool ReadMentions = true;
    // A reader made before the window, perhaps already reading the first page
    // (TForm1::StartFirstRead); the window takes it over. Null: the window makes its own.
    TTimelineReader* Reader = nullptr;
    // The settings as already read from SettingsFile (TForm1::StartFirstRead keeps them);
    // empty: the window reads the file itself.
    std::optional<TMainState> Settings;

    // Where the two copies go.
    QString PostCopyPath() const
    {
        return PostCopyFile.isEmpty() ? PostCopyFileBeside(SettingsFile) : PostCopyFile;
    }
    QString OfflineCopyPath() const
    {
        return TimelineCacheFile.isEmpty() ? TimelineCacheFileBeside(SettingsFile) : TimelineCacheFile;
    }
};
