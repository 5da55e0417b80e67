#include "settings/OwnerOnlyFile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Reason(const char* what, int err)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(strerror(err)));
}

bool Fail(QString* error, const char* what, int err)
{
    if (error)
        *error = Reason(what, err);
    return false;
}

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// The file a chain of symbolic links ends at, which may not exist yet. Only the last
// part matters: the temporary file must lie in the same folder as the file it replaces.
bool FollowLinks(QByteArray* path, QString* error)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path->constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(path->constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return Fail(error, "read symbolic link", errno);
        target.truncate(n);
        *path = target.startsWith('/') ? target : FolderOf(*path) + '/' + target;
    }
    return Fail(error, "follow symbolic link", ELOOP);
}

// Writable for this user, and by the mode bits for someone: the administrator passes
// every permission check, but a file or folder nobody may write was made read-only on
// purpose.
bool MayWrite(const QByteArray& path, const char* what, QString* error)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return Fail(error, what, errno);
    const int mode = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
    if (::access(path.constData(), mode) != 0)
        return Fail(error, what, errno);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return Fail(error, what, EACCES);
    return true;
}

} // namespace

bool WriteOwnerOnlyFileAtomically(const QString& fileName, const QByteArray& data, QString* error)
{
    QByteArray target = QFile::encodeName(fileName);
    if (!FollowLinks(&target, error))
        return false;
    if (!MayWrite(FolderOf(target), "folder not writable", error))
        return false;
    struct stat st {};
    if (::stat(target.constData(), &st) == 0 && !MayWrite(target, "file not writable", error))
        return false;

    QByteArray pattern = target + ".XXXXXX";
    // mkstemp creates the file with mode 0600 and a name nobody else holds.
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return Fail(error, "create temporary file", errno);
    auto fail = [&](const char* what) {
        const int err = errno;
        ::close(fd);
        ::unlink(pattern.constData());
        return Fail(error, what, err);
    };
    if (fchmod(fd, S_IRUSR | S_IWUSR) != 0)
        return fail("set permissions");
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail("write");
        }
        p += n;
        left -= n;
    }
    if (fsync(fd) != 0)
        return fail("flush");
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(pattern.constData());
        return Fail(error, "close", err);
    }
    if (::rename(pattern.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(pattern.constData());
        return Fail(error, "rename", err);
    }
    return true;
}

bool MakeOwnerOnlyFolder(const QString& folder, QString* error)
{
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype end = path.startsWith('/') ? 1 : 0; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/')
            continue;
        const QByteArray part = path.left(end);
        if (part.isEmpty() || part.endsWith('/'))
            continue;
        if (::mkdir(part.constData(), S_IRWXU) != 0 && errno != EEXIST)
            return Fail(error, "create folder", errno);
    }
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return Fail(error, "create folder", errno);
    if (!S_ISDIR(st.st_mode))
        return Fail(error, "create folder", ENOTDIR);
    return true;
}
