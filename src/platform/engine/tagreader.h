#pragma once

#include <QObject>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// What a file's tags say of it, for the desktop's media controls.
struct TrackTags {
    QString title, artist, album;
    int trackNumber = 0;
    // The embedded picture, written to a private cache file; "" when none.
    QString artPath;
    bool operator==(const TrackTags &) const = default;
};

// Reads the tags of a file (MP3, MP2, FLAC, Ogg, Opus, M4A; other kinds
// carry none we show), writing its picture into `artFolder`. Runs the file's
// demuxer, never its decoder, and gives up after `timeoutMs`. Blocking.
TrackTags ReadTrackTags(const QString &path, const QString &artFolder, int timeoutMs = 2000);

// The folder for pictures: $XDG_CACHE_HOME/tunabel/art, private to the user.
QString TrackArtFolder();

// Reads tags on a thread of its own, the newest request first: a request
// made while one is read replaces any still waiting. `read` arrives on the
// reader's thread, for the path that was asked.
class TagReader : public QObject {
    Q_OBJECT
public:
    explicit TagReader(QString artFolder, QObject *parent = nullptr);
    ~TagReader() override;
    void request(const QString &path);

signals:
    void read(const QString &path, const TrackTags &tags);

private:
    void run();

    const QString m_artFolder;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QString m_waiting; // guarded by m_mutex
    bool m_hasWaiting = false;
    bool m_stopping = false;
    std::thread m_thread;
};
