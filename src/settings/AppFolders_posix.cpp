#include "settings/AppFolders.h"

#include <QDir>

QString UserFolder(TUserFolder kind)
{
    // The XDG base directory convention: the variable when it holds an absolute path
    // (a relative one is to be ignored), else the fixed folder in the home folder.
    const bool config = kind == TUserFolder::Config;
    const QString set = QDir::cleanPath(qEnvironmentVariable(config ? "XDG_CONFIG_HOME" : "XDG_CACHE_HOME"));
    if (QDir::isAbsolutePath(set))
        return set;
    return QDir::cleanPath(QDir::homePath() + (config ? QStringLiteral("/.config") : QStringLiteral("/.cache")));
}
