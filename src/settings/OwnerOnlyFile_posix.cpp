#include "settings/OwnerOnlyFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Reason(const char* what, int err)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(strerror(err)));
}

} // namespace

bool WriteOwnerOnlyFileAtomically(const QString& fileName, const QByteArray& data, QString* error)
{
    const QByteArray target = QFile::encodeName(fileName);
    QByteArray pattern = target + ".XXXXXX";
    // mkstemp creates the file with mode 0600 and a name nobody else holds.
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        if (error)
            *error = Reason("create temporary file", errno);
        return false;
    }
    auto fail = [&](const char* what) {
        const int err = errno;
        ::close(fd);
        ::unlink(pattern.constData());
        if (error)
            *error = Reason(what, err);
        return false;
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
        if (error)
            *error = Reason("close", err);
        return false;
    }
    if (::rename(pattern.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(pattern.constData());
        if (error)
            *error = Reason("rename", err);
        return false;
    }
    return true;
}
