#pragma once

#include "settings/Settings.h"

// Installs the translators of language in the application, in place of those of an
// earlier call: Qt's own Japanese texts (qtbase_ja, else qt_ja, from Qt's translations
// folder) for Japanese, whose texts of ours need none; the program's English texts, built
// into the program, for English, whose Qt texts need none. Call it before any window is
// made: windows take their texts when they are built. False when the catalogue could not
// be loaded; the texts then stay as they were. Needs the application object.
bool InstallTranslators(TLanguage language);
