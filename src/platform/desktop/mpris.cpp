#include "platform/desktop/mpris.h"

#include "platform/desktop/handoverclient.h"
#include "platform/desktop/registration.h"
#include "platform/engine/mediacontrol.h"
#include "platform/filename.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

#include <climits>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

void call(const std::function<void()> &f) {
    if (f)
        f();
}

constexpr const char *kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char *kNotSupported = "org.freedesktop.DBus.Error.NotSupported";

bool hasOtherScheme(const QString &uri) {
    const qsizetype colon = uri.indexOf(':');
    if (colon <= 0 || !uri[0].isLetter())
        return false;
    for (qsizetype i = 1; i < colon; ++i)
        if (uri[i].unicode() > 0x7F ||
            !(uri[i].isLetterOrNumber() || uri[i] == '+' || uri[i] == '-' || uri[i] == '.'))
            return false;
    return true;
}

// What OpenUri makes of an address: the local path to open (file names are
// bytes: see platform/filename.h), or the D-Bus error it is refused with.
struct OpenUriCheck {
    QString path;
    QString error;   // "" when accepted
    QString message; // why, in a few words
};

OpenUriCheck CheckOpenUri(const QString &uri) {
    const auto refuse = [](const char *error, const char *message) {
        return OpenUriCheck{{}, error, message};
    };
    if (uri.isEmpty())
        return refuse(kInvalidArgs, "adresse vide");
    // Every byte escaped, a path of PATH_MAX is three times as long.
    if (uri.size() > 3 * PATH_MAX + 32)
        return refuse(kInvalidArgs, "adresse trop longue");
    const bool isFile = uri.startsWith("file://", Qt::CaseInsensitive);
    if (!isFile && !uri.startsWith('/'))
        return hasOtherScheme(uri)
                   ? refuse(kNotSupported, "seules les adresses file:// sont prises en charge")
                   : refuse(kInvalidArgs, "adresse relative");
    const std::string wrapped = handover::WrapArgument(uri.toStdString(), "/");
    if (wrapped.size() < 3)
        return refuse(kInvalidArgs, "adresse mal formée");
    const std::string path = wrapped.substr(1, wrapped.size() - 2);
    if (path.size() >= PATH_MAX)
        return refuse(kInvalidArgs, "chemin trop long");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return refuse(kInvalidArgs, "fichier introuvable");
    // A named pipe or a device would block the open.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return refuse(kNotSupported, "ni un fichier ni un dossier");
    if (::access(path.c_str(), R_OK) != 0)
        return refuse(kInvalidArgs, "fichier illisible");
    return {DecodeFileName(QByteArray::fromStdString(path)), {}, {}};
}

} // namespace

MprisService::MprisService(MprisPlayer p, QObject *parent)
    : QObject(parent), player(std::move(p)), m_bus(QString()) {
    new MprisRoot(this);
    m_adaptor = new MprisPlayerAdaptor(this);
    connect(&m_tagReader, &TagReader::read, this, [this](const QString &path, const TrackTags &tags) {
        if (path != m_trackFile)
            return;
        m_tags = tags;
        update();
    });
}

bool MprisService::publish(QDBusConnection bus) {
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(kMprisPath, this))
        return false;
    if (!bus.registerService(kMprisService)) {
        bus.unregisterObject(kMprisPath);
        return false;
    }
    m_bus = bus;
    m_published = true;
    m_status = playbackStatus();
    m_metadata = metadata();
    m_volume = player.volume ? player.volume() : 1.0;
    m_canSeek = canSeek();
    return true;
}

QString MprisService::trackId() const {
    const QString file = player.file ? player.file() : QString();
    return file.isEmpty() ? QString("/org/mpris/MediaPlayer2/TrackList/NoTrack")
                          : "/org/tunabel/track/" + QString::number(m_track);
}

bool MprisService::canSeek() const {
    const int state = player.state ? player.state() : kMediaStopped;
    return player.setPosition && player.file && !player.file().isEmpty() && state != kMediaStopped;
}

void MprisService::openUri(const QString &uri) {
    const OpenUriCheck check = CheckOpenUri(uri);
    if (!check.error.isEmpty()) {
        // The caller learns why; no box waits for a click inside the call.
        if (calledFromDBus())
            sendErrorReply(check.error, check.message);
        return;
    }
    m_pendingOpen = check.path;
    if (!m_openQueued) {
        m_openQueued = true;
        QMetaObject::invokeMethod(this, &MprisService::openPending, Qt::QueuedConnection);
    }
}

void MprisService::openPending() {
    m_openQueued = false;
    const QString path = std::exchange(m_pendingOpen, QString());
    if (!path.isEmpty() && player.open)
        player.open(path);
}

void MprisService::moveTo(double seconds) {
    const double length = player.length ? player.length() : 0;
    seconds = std::max(0.0, seconds);
    if (length > 0 && std::isfinite(length))
        seconds = std::min(seconds, length);
    player.setPosition(seconds);
}

void MprisService::seek(qlonglong offsetMicroseconds) {
    if (!canSeek())
        return;
    const double position = player.position ? player.position() : 0;
    moveTo((std::isfinite(position) ? position : 0) + double(offsetMicroseconds) / 1e6);
}

void MprisService::setPosition(const QString &track, qlonglong microseconds) {
    if (!canSeek() || track != trackId())
        return;
    moveTo(double(microseconds) / 1e6);
}

void MprisService::seeked(double seconds) {
    if (m_published && std::isfinite(seconds))
        emit m_adaptor->Seeked(qlonglong(std::llround(std::max(0.0, seconds) * 1e6)));
}

QString MprisService::playbackStatus() const {
    const int state = player.state ? player.state() : kMediaStopped;
    if (player.file && player.file().isEmpty())
        return "Stopped";
    return state == kMediaRunning ? "Playing" : state == kMediaPaused ? "Paused" : "Stopped";
}

QVariantMap MprisService::metadata() const {
    QVariantMap m;
    const QString file = player.file ? player.file() : QString();
    m["mpris:trackid"] = QVariant::fromValue(QDBusObjectPath(trackId()));
    if (file.isEmpty())
        return m;
    // The tags' title where there is one; else the name the window shows.
    const TrackTags tags = file == m_trackFile ? m_tags : TrackTags{};
    m["xesam:title"] = !tags.title.isEmpty() ? tags.title : player.title ? player.title() : QString();
    if (!tags.artist.isEmpty())
        m["xesam:artist"] = QStringList{tags.artist};
    if (!tags.album.isEmpty())
        m["xesam:album"] = tags.album;
    if (tags.trackNumber > 0)
        m["xesam:trackNumber"] = tags.trackNumber;
    if (!tags.artPath.isEmpty())
        m["mpris:artUrl"] =
            QString::fromLatin1("file://" + QUrl::toPercentEncoding(EncodeFileName(tags.artPath), "/"));
    const double length = player.length ? player.length() : 0;
    if (length > 0 && std::isfinite(length))
        m["mpris:length"] = qlonglong(std::llround(length * 1e6));
    // File names are bytes: the URL is made from them, not from the text.
    m["xesam:url"] = QString::fromLatin1("file://" + QUrl::toPercentEncoding(EncodeFileName(file), "/"));
    return m;
}

void MprisService::update() {
    const QString file = player.file ? player.file() : QString();
    if (file != m_trackFile) {
        m_trackFile = file;
        ++m_track;
        m_tags = {};
        if (!file.isEmpty())
            m_tagReader.request(file);
    }
    if (!m_published)
        return;
    QVariantMap changed;
    const QString status = playbackStatus();
    if (status != m_status)
        changed["PlaybackStatus"] = m_status = status;
    const QVariantMap meta = metadata();
    if (meta != m_metadata)
        changed["Metadata"] = m_metadata = meta;
    const double volume = player.volume ? player.volume() : 1.0;
    if (volume != m_volume)
        changed["Volume"] = m_volume = volume;
    if (canSeek() != m_canSeek)
        changed["CanSeek"] = m_canSeek = canSeek();
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kMprisPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    m_bus.send(signal);
}

MprisRoot::MprisRoot(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}

QStringList MprisRoot::SupportedMimeTypes() const {
    return ::SupportedMimeTypes();
}

void MprisRoot::Raise() {
    call(m_service->player.raise);
}

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service) {}

double MprisPlayerAdaptor::Volume() const {
    return m_service->player.volume ? m_service->player.volume() : 1.0;
}

void MprisPlayerAdaptor::setVolume(double volume) {
    if (m_service->player.setVolume && std::isfinite(volume))
        m_service->player.setVolume(std::clamp(volume, 0.0, 1.0));
}

qlonglong MprisPlayerAdaptor::Position() const {
    const double p = m_service->player.position ? m_service->player.position() : 0;
    return std::isfinite(p) && p > 0 ? qlonglong(std::llround(p * 1e6)) : 0;
}

void MprisPlayerAdaptor::Next() {
    call(m_service->player.next);
}
void MprisPlayerAdaptor::Previous() {
    call(m_service->player.previous);
}
void MprisPlayerAdaptor::Pause() {
    call(m_service->player.pause);
}
void MprisPlayerAdaptor::PlayPause() {
    call(m_service->player.playPause);
}
void MprisPlayerAdaptor::Stop() {
    call(m_service->player.stop);
}
void MprisPlayerAdaptor::Play() {
    call(m_service->player.play);
}
