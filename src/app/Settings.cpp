#include "Settings.h"
// placeholder: implemented in the settings change
QString SettingsFileName(const QString& p) { return p + QStringLiteral(".ini"); }
QByteArray ScrambleText(const QByteArray& t) { return t; }
void LoadSettings(const QString&, TMainState&) {}
bool SaveSettings(const QString&, const TMainState&, const QRect&, QString*) { return true; }
QString ResolveApiBase(const QStringList&, const TMainState&) { return QStringLiteral("http://twitter.com"); }
