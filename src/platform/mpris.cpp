#include "platform/mpris.h"

#include "platform/filename.h"
#include "platform/registration.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

#include <cmath>

namespace {

void call(const std::function<void()> &f) {
    if (f)
        f();
}

} // namespace

MprisService::MprisService(MprisPlayer p, QObject *parent)
    : QObject(parent), player(std::move(p)), m_bus(QString()) {
    new MprisRoot(this);
    new MprisPlayerAdaptor(this);
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
    return true;
}

QString MprisService::playbackStatus() const {
    const int state = player.state ? player.state() : 0;
    if (player.file && player.file().isEmpty())
        return "Stopped";
    return state == 2 ? "Playing" : state == 1 ? "Paused" : "Stopped";
}

QVariantMap MprisService::metadata() const {
    QVariantMap m;
    const QString file = player.file ? player.file() : QString();
    if (file.isEmpty()) {
        m["mpris:trackid"] =
            QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
        return m;
    }
    m["mpris:trackid"] =
        QVariant::fromValue(QDBusObjectPath("/org/tunabel/track/" + QString::number(m_track)));
    m["xesam:title"] = player.title ? player.title() : QString();
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
void MprisPlayerAdaptor::OpenUri(const QString &uri) {
    if (m_service->player.openUri)
        m_service->player.openUri(uri);
}
