#include "platform/engine/tagreader.h"

#include "platform/engine/gstmediacontrol.h"
#include "storage/atomicfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>

namespace {

// Pictures kept at most: one per album played lately is plenty.
constexpr int kArtFilesKept = 32;

bool carriesTags(const QString &path) {
    static const QStringList kinds = {"mp3", "mp2", "mpa", "mpga", "flac", "ogg", "oga", "opus", "m4a"};
    return kinds.contains(QFileInfo(path).suffix().toLower());
}

QString tagString(const GstTagList *tags, const char *tag) {
    gchar *value = nullptr;
    if (!gst_tag_list_get_string(tags, tag, &value))
        return {};
    const QString out = QString::fromUtf8(value).trimmed();
    g_free(value);
    return out;
}

void trimArtFolder(const QString &folder) {
    QDir dir(folder);
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Time); // newest first
    for (qsizetype i = kArtFilesKept; i < files.size(); ++i)
        QFile::remove(files[i].filePath());
}

// The picture under a name made of its bytes: the same art is written once.
QString writeArt(const GstTagList *tags, const QString &folder) {
    GstSample *sample = nullptr;
    if (!gst_tag_list_get_sample(tags, GST_TAG_IMAGE, &sample) &&
        !gst_tag_list_get_sample(tags, GST_TAG_PREVIEW_IMAGE, &sample))
        return {};
    QString path;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const QByteArray bytes(reinterpret_cast<const char *>(map.data), qsizetype(map.size));
        gst_buffer_unmap(buffer, &map);
        const GstCaps *caps = gst_sample_get_caps(sample);
        const char *type =
            caps && gst_caps_get_size(caps) ? gst_structure_get_name(gst_caps_get_structure(caps, 0)) : "";
        const QString suffix = QString(type) == "image/png"   ? ".png"
                               : QString(type) == "image/gif" ? ".gif"
                                                              : ".jpg";
        const QString name = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex() + suffix;
        if (!bytes.isEmpty() && QDir().mkpath(folder)) {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            path = QDir(folder).filePath(name);
            QFile existing(path);
            if (existing.exists() && existing.open(QIODevice::ReadWrite)) // kept: now the newest
                existing.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
            else if (!WriteFileAtomically(path, bytes))
                path.clear();
            trimArtFolder(folder);
        }
    }
    gst_sample_unref(sample);
    return path;
}

void mergeStreamTags(GstDiscovererStreamInfo *stream, GstTagList *into) {
    if (const GstTagList *tags = gst_discoverer_stream_info_get_tags(stream))
        gst_tag_list_insert(into, tags, GST_TAG_MERGE_KEEP);
    if (GST_IS_DISCOVERER_CONTAINER_INFO(stream)) {
        if (const GstTagList *tags =
                gst_discoverer_container_info_get_tags(GST_DISCOVERER_CONTAINER_INFO(stream)))
            gst_tag_list_insert(into, tags, GST_TAG_MERGE_KEEP);
    }
}

} // namespace

QString TrackArtFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/tunabel/art";
}

TrackTags ReadTrackTags(const QString &path, const QString &artFolder, int timeoutMs) {
    TrackTags out;
    if (!carriesTags(path) || !QFileInfo(path).isFile() || gstengine::structureProblem(path) ||
        !gstengine::looksLikeItsKind(path))
        return out;
    gstengine::waitReady();
    GstDiscoverer *discoverer = gst_discoverer_new(GstClockTime(timeoutMs) * GST_MSECOND, nullptr);
    if (!discoverer)
        return out;
    GstDiscovererInfo *info =
        gst_discoverer_discover_uri(discoverer, gstengine::fileUri(path).constData(), nullptr);
    if (info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
        GstTagList *tags = gst_tag_list_new_empty();
        if (GstDiscovererStreamInfo *top = gst_discoverer_info_get_stream_info(info)) {
            mergeStreamTags(top, tags);
            gst_discoverer_stream_info_unref(top);
        }
        GList *streams = gst_discoverer_info_get_stream_list(info);
        for (GList *s = streams; s; s = s->next)
            mergeStreamTags(GST_DISCOVERER_STREAM_INFO(s->data), tags);
        gst_discoverer_stream_info_list_free(streams);
        out.title = tagString(tags, GST_TAG_TITLE);
        out.artist = tagString(tags, GST_TAG_ARTIST);
        out.album = tagString(tags, GST_TAG_ALBUM);
        guint track = 0;
        if (gst_tag_list_get_uint(tags, GST_TAG_TRACK_NUMBER, &track) && track < 100000)
            out.trackNumber = int(track);
        out.artPath = writeArt(tags, artFolder);
        gst_tag_list_unref(tags);
    }
    if (info)
        gst_discoverer_info_unref(info);
    g_object_unref(discoverer);
    return out;
}

TagReader::TagReader(QString artFolder, QObject *parent)
    : QObject(parent), m_artFolder(std::move(artFolder)), m_thread([this] { run(); }) {}

TagReader::~TagReader() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void TagReader::request(const QString &path) {
    {
        std::lock_guard lock(m_mutex);
        m_waiting = path;
        m_hasWaiting = true;
    }
    m_wake.notify_one();
}

void TagReader::run() {
    for (;;) {
        QString path;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_hasWaiting; });
            if (m_stopping)
                return;
            path = m_waiting;
            m_hasWaiting = false;
        }
        const TrackTags tags = ReadTrackTags(path, m_artFolder);
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        // Queued: the reader outlives this call, its destructor waits for the thread.
        QMetaObject::invokeMethod(
            this, [this, path, tags] { emit read(path, tags); }, Qt::QueuedConnection);
    }
}
