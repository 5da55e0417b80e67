#pragma once

#include <QStringList>

struct TMainState;

// What every window shares, set once on the application object before the first window
// is built: the style, the Japanese fonts (menus and pop-ups take the windows' font rather
// than loading the desktop's family too), the program's icon and the language of the
// texts (from arguments, the environment or settings).
void SetUpApplication(const QStringList& arguments, const TMainState& settings);

// One heap for every thread, called first in main. Each read runs on a short-lived thread
// of its own; with the C library's default, those threads got arenas of their own that
// stayed resident (about half a megabyte each) after their pages were handed over. The
// reads are few; sharing one heap with them costs no measurable start-up time.
void UseOneHeap();

// Gives the free pages inside the heap back to the system. Called when a reload is over:
// the pages it read were freed one by one, which leaves holes the allocator keeps.
void ReturnFreeMemory();

// Ends every modal dialog and message box open now, as if cancelled, so the code that
// waits on each goes on: the system asked the program to end.
void EndModalWindows();
