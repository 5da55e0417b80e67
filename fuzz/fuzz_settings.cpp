#include "settings/IniFile.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QRect>

#include <cstdint>
#include <cstdlib>

// Any bytes read as a settings file; writing the state back and reading again gives
// the same state, and lines outside section "App" survive the update.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TIniFile file = TIniFile::FromBytes(bytes);
    if (file.ToBytes() != bytes)
        std::abort();

    TMainState state;
    ReadSettings(file, state);

    // Take the credentials from raw input bytes so every byte value is tried.
    TMainState written = state;
    const qsizetype half = bytes.size() / 2;
    written.AccountName = QString::fromUtf8(bytes.left(half));
    written.Password = QString::fromUtf8(bytes.mid(half));
    const QRect bounds(state.WindowLeft, state.WindowTop, 640, 480);
    WriteSettings(file, written, bounds);

    TMainState back;
    ReadSettings(TIniFile::FromBytes(file.ToBytes()), back);
    if (back.AccountName != written.AccountName || back.Password != written.Password
        || back.WindowLeft != bounds.left() || back.WindowTop != bounds.top() || back.WindowWidth != 640
        || back.WindowHeight != 480 || back.Anonymous != written.Anonymous || back.TopMost != written.TopMost
        || back.DisplayMode != written.DisplayMode || back.AutoReload != written.AutoReload
        || back.AutoRotation != written.AutoRotation || back.ReloadInterval != written.ReloadInterval
        || back.RotationInterval != written.RotationInterval || back.Api != written.Api)
        std::abort();
    return 0;
}
