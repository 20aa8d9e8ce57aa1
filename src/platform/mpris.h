#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
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
    std::function<void(const QString &uri)> openUri;
    std::function<int()> state;     // 0 stopped, 1 paused, 2 running
    std::function<QString()> file;  // the loaded file, "" when none
    std::function<QString()> title; // shown as the track's title
    std::function<double()> length; // seconds
    std::function<double()> volume; // 0 to 1
    std::function<void(double)> setVolume;
    std::function<double()> position; // seconds
};

inline constexpr const char *kMprisService = "org.mpris.MediaPlayer2.tunabel";
inline constexpr const char *kMprisPath = "/org/mpris/MediaPlayer2";

class MprisService : public QObject {
    Q_OBJECT
public:
    MprisService(MprisPlayer player, QObject *parent = nullptr);
    // Publishes the service on `bus`; false when there is no bus or the
    // name is taken (the player then runs without it).
    bool publish(QDBusConnection bus);
    // Re-reads the player and tells the bus what changed.
    void update();

    MprisPlayer player;
    QString playbackStatus() const;
    QVariantMap metadata() const;

private:
    QDBusConnection m_bus;
    bool m_published = false;
    QString m_status;
    QVariantMap m_metadata;
    double m_volume = -1;
    QString m_trackFile;
    int m_track = 0;
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
    bool CanSeek() const { return false; }
    bool CanControl() const { return true; }

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath &, qlonglong) {}
    void OpenUri(const QString &uri);

signals:
    void Seeked(qlonglong position);

private:
    MprisService *m_service;
};
