#include "storage/atomicfile.h"

#include "platform/filename.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kNameMax = 255; // bytes in one file name

bool writeAll(int fd, const char *data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

AtomicFile::AtomicFile(const QString &path) : m_target(EncodeFileName(path)) {}

AtomicFile::~AtomicFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.isEmpty())
        ::unlink(m_temp.constData());
}

bool AtomicFile::fail() {
    if (m_error == 0)
        m_error = errno ? errno : EIO;
    return false;
}

bool AtomicFile::open() {
    const qsizetype slash = m_target.lastIndexOf('/');
    if (m_target.size() - slash - 1 > kNameMax) {
        m_error = ENAMETOOLONG;
        return false;
    }
    const QByteArray dir = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray() : m_target.left(slash);
    // A name of our own in the same folder, so the final rename is atomic.
    QByteArray temp = dir + '/' + kAtomicSavePrefix + "XXXXXX";
    m_fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (m_fd < 0)
        return fail();
    m_temp = temp;
    return true;
}

bool AtomicFile::usable() {
    if (m_fd >= 0 && m_error == 0)
        return true;
    if (m_error == 0)
        m_error = EBADF; // not opened, or committed already
    return false;
}

bool AtomicFile::write(const QByteArray &piece) {
    if (!usable())
        return false;
    if (!writeAll(m_fd, piece.constData(), piece.size()))
        return fail();
    ::sync_file_range(m_fd, off_t(m_written), off_t(piece.size()), SYNC_FILE_RANGE_WRITE);
    m_written += piece.size();
    return true;
}

bool AtomicFile::commit() {
    if (!usable())
        return false;
    // The mode a new file would get, or the one of the file it replaces.
    struct stat st {};
    mode_t mode;
    if (::stat(m_target.constData(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(m_fd, mode) != 0 || ::fsync(m_fd) != 0)
        return fail();
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 || ::rename(m_temp.constData(), m_target.constData()) != 0)
        return fail();
    m_temp.clear();
    return true;
}

QString FileErrorReason(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral("accès refusé");
    case EROFS:
        return QStringLiteral("le support est en lecture seule");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("le disque est plein");
    case EFBIG:
        return QStringLiteral("le fichier dépasse la taille permise");
    case ENAMETOOLONG:
        return QStringLiteral("le nom est trop long");
    case ENOENT:
        return QStringLiteral("le fichier ou son dossier n'existe pas");
    case EISDIR:
        return QStringLiteral("c'est un dossier");
    case ENOTDIR:
        return QStringLiteral("le chemin ne mène pas à un dossier");
    case EIO:
        return QStringLiteral("erreur de lecture ou d'écriture sur le disque");
    default:
        return QStringLiteral("erreur du système n° %1").arg(err);
    }
}

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error) {
    AtomicFile f(path);
    if (f.open() && f.write(bytes) && f.commit())
        return true;
    if (error)
        *error = QStringLiteral("impossible d'écrire %1 (%2)").arg(path, FileErrorReason(f.error()));
    return false;
}
