#pragma once

// The one way this program replaces a file: written beside it under a
// temporary name, flushed to the disk, then renamed over it. A reader sees
// the old file or the new one, never a part; a failure leaves the old one.
#include <QByteArray>
#include <QString>

// The temporary's name: this prefix and six letters or digits.
inline constexpr char kAtomicSavePrefix[] = ".tnl-save-";

class AtomicFile {
public:
    explicit AtomicFile(const QString &path);
    ~AtomicFile(); // uncommitted: the temporary goes
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Each false leaves the reason in error(); the old file stays.
    bool open();
    // Each piece starts on its way to the disk while the caller makes the next.
    bool write(const QByteArray &piece);
    // Keeps the replaced file's mode (or the one a new file gets), then renames.
    bool commit();
    // The errno of the first failure, 0 if none.
    int error() const { return m_error; }

private:
    bool fail();
    bool usable();

    QByteArray m_target;
    QByteArray m_temp;
    int m_fd = -1;
    long long m_written = 0;
    int m_error = 0;
};

// A short French reason for an errno, as messages end: "accès refusé".
QString FileErrorReason(int err);

// The whole file at once; on failure `error` says why in French.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);
