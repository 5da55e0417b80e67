#pragma once

#include <QStringList>

struct TMainState;

// What every window shares, set once on the application object before the first window
// is built: the style, the Japanese fonts (menus and pop-ups take the windows' font rather
// than loading the desktop's family too), the program's icon and the language of the
// texts (from arguments, the environment or settings).
void SetUpApplication(const QStringList& arguments, const TMainState& settings);
