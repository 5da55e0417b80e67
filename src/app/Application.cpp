#include "app/Application.h"

#include "app/LazyIconStyle.h"
#include "app/Translations.h"
#include "dialogs/DialogCommon.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QIcon>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void SetUpApplication(const QStringList& arguments, const TMainState& settings)
{
    QApplication::setStyle(new TLazyIconStyle);
    RegisterJapaneseFontSubstitutes();
    QApplication::setFont(UiFont(12));
    // The installed theme icon when there is one, else the program's own drawing.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("brimlark"), ProgramIconSet()));
    QGuiApplication::setDesktopFileName(QStringLiteral("brimlark"));
    // Before any window: every window takes its texts when it is built.
    InstallTranslators(ResolveLanguage(arguments, settings));
}

void UseOneHeap()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
#endif
}

void ReturnFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
