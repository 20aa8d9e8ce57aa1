#pragma once

#include "platform/engine/tagreader.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// The desktop's media control interface (MPRIS2) on a D-Bus connection:
// media keys, the sound menu and playerctl drive the player through it.

// What the service asks of the player.
struct MprisPlayer {
    std::function<void()> play, pause, playPause, stop, next, previous, raise;
    // The local file or folder an OpenUri named, once the call is answered.
    std::function<void(const QString &path)> open;
    std::function<int()> state;     // the media control's, a MediaState
    std::function<QString()> file;  // the loaded file, "" when none
    std::function<QString()> title; // shown as the track's title
    std::function<double()> length; // seconds
    std::function<double()> volume; // 0 to 1
    std::function<void(double)> setVolume;
    std::function<double()> position; // seconds
    std::function<void(double)> setPosition;
};

inline constexpr const char *kMprisService = "org.mpris.MediaPlayer2.tunabel";
inline constexpr const char *kMprisPath = "/org/mpris/MediaPlayer2";

class MprisPlayerAdaptor;

class MprisService : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    MprisService(MprisPlayer player, QObject *parent = nullptr);
    // Publishes the service on `bus`; false when there is no bus or the
    // name is taken (the player then runs without it).
    bool publish(QDBusConnection bus);
    // Re-reads the player and tells the bus what changed. A new file's tags
    // are read in the background and told when they are known.
    void update();

    MprisPlayer player;
    QString playbackStatus() const;
    QVariantMap metadata() const;
    QString trackId() const;
    // A file is open: running or paused.
    bool canSeek() const;

    // The bus's requests. OpenUri answers at once: an address that cannot be
    // played is refused with an error, any other is opened afterwards, on the
    // event loop (a newer one replaces one still waiting).
    void openUri(const QString &uri);
    void seek(qlonglong offsetMicroseconds);
    void setPosition(const QString &trackId, qlonglong microseconds);
    // The position jumped (a seek of any origin): tells the bus.
    void seeked(double seconds);

private:
    void openPending();
    void moveTo(double seconds);

    MprisPlayerAdaptor *m_adaptor;
    QString m_pendingOpen;
    bool m_openQueued = false;
    QDBusConnection m_bus;
    bool m_published = false;
    QString m_status;
    QVariantMap m_metadata;
    double m_volume = -1;
    bool m_canSeek = false;
    QString m_trackFile;
    int m_track = 0;
    TagReader m_tagReader{TrackArtFolder()};
    TrackTags m_tags; // of m_trackFile, once read
};

class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit MprisRoot(MprisService *service);
    bool CanQuit() const { return false; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return "Tunabel"; }
    QString DesktopEntry() const { return "tunabel"; }
    QStringList SupportedUriSchemes() const { return {"file"}; }
    QStringList SupportedMimeTypes() const;

public slots:
    void Raise();
    void Quit() {}

private:
    MprisService *m_service;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QString LoopStatus READ LoopStatus)
    Q_PROPERTY(double Rate READ Rate WRITE setRate)
    Q_PROPERTY(bool Shuffle READ Shuffle)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ MinimumRate)
    Q_PROPERTY(double MaximumRate READ MaximumRate)
    Q_PROPERTY(bool CanGoNext READ CanControl)
    Q_PROPERTY(bool CanGoPrevious READ CanControl)
    Q_PROPERTY(bool CanPlay READ CanControl)
    Q_PROPERTY(bool CanPause READ CanControl)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit MprisPlayerAdaptor(MprisService *service);
    QString PlaybackStatus() const { return m_service->playbackStatus(); }
    QString LoopStatus() const { return "None"; }
    double Rate() const { return 1.0; }
    void setRate(double) {}
    bool Shuffle() const { return false; }
    QVariantMap Metadata() const { return m_service->metadata(); }
    double Volume() const;
    void setVolume(double volume);
    qlonglong Position() const;
    double MinimumRate() const { return 1.0; }
    double MaximumRate() const { return 1.0; }
    bool CanSeek() const { return m_service->canSeek(); }
    bool CanControl() const { return true; }

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offset) { m_service->seek(offset); }
    void SetPosition(const QDBusObjectPath &track, qlonglong position) {
        m_service->setPosition(track.path(), position);
    }
    void OpenUri(const QString &uri) { m_service->openUri(uri); }

signals:
    void Seeked(qlonglong position);

private:
    MprisService *m_service;
};
