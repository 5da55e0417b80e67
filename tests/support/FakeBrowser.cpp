#include "FakeBrowser.h"

#include <QDesktopServices>

FakeBrowser::FakeBrowser()
{
    for (const char* scheme : {"http", "https"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
}

FakeBrowser::~FakeBrowser()
{
    for (const char* scheme : {"http", "https"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}
