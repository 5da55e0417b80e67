#include "app/Application.h"

#include "app/LazyIconStyle.h"
#include "app/Translations.h"
#include "dialogs/DialogCommon.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDialog>
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

void EndModalWindows()
{
    // Each one ended lets the one below it come to the front; a few at most are open.
    for (int guard = 0; guard < 8; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;  // it would not go: no use asking again
    }
}

void ReturnFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
