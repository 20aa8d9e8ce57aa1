#include "platform/engine/gaplessswitch.h"

#include "platform/engine/engine.h"

#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

namespace {

// A file the hand-over may take: a regular, readable sound file that its
// decoder may be given.
// Only the plain sound formats switch: the MIDI parser mishandles queries
// made across a switch, films need their video branch set up by an open.
// AIFF switches once its chunks have been checked (looksLikeItsKind).
bool switchable(const QString &path) {
    static const QStringList kinds = {"wav", "au",   "snd",  "aiff", "aif", "aifc", "mp3", "mp2",
                                      "mpa", "mpga", "flac", "ogg",  "oga", "opus", "m4a"};
    return !path.isEmpty() && kinds.contains(QFileInfo(path).suffix().toLower());
}

bool canTake(const QString &path) {
    if (!switchable(path))
        return false;
    const QByteArray local = gstengine::localName(path);
    struct stat st {};
    return ::stat(local.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(local.constData(), R_OK) == 0 && !gstengine::structureProblem(path);
}

} // namespace

void GaplessSwitch::offer(const QByteArray &uri, const QString &path) {
    std::lock_guard lock(m_mutex);
    if (m_state.load() != HandOver::None)
        return; // taken already: only a drop undoes it
    m_uri = uri;
    m_path = uri.isEmpty() ? QString() : path;
    m_offered.notify_all();
}

void GaplessSwitch::drop() {
    std::lock_guard lock(m_mutex);
    forgetTaken();
    m_offerDue = false;
    m_offered.notify_all();
}

void GaplessSwitch::adopted() {
    std::lock_guard lock(m_mutex);
    forgetTaken();
}

void GaplessSwitch::forgetTaken() {
    m_uri.clear();
    m_path.clear();
    m_state = HandOver::None;
    m_streamStarted = false;
}

void GaplessSwitch::expectOffer() {
    std::lock_guard lock(m_mutex);
    m_offerDue = true;
}

void GaplessSwitch::settle() {
    std::lock_guard lock(m_mutex);
    // Once the offer was taken, what is due is what follows the file taken.
    if (m_state.load() == HandOver::None)
        m_offerDue = false;
    m_offered.notify_all();
}

QString GaplessSwitch::heard() {
    std::lock_guard lock(m_mutex);
    m_state = HandOver::Heard;
    return m_path;
}

QString GaplessSwitch::taken() const {
    std::lock_guard lock(m_mutex);
    return m_state.load() == HandOver::None ? QString() : m_path;
}

bool GaplessSwitch::mayTake(const QString &path) {
    if (path != m_vettedPath) {
        m_vettedPath = path;
        m_vetted = canTake(path) && gstengine::looksLikeItsKind(path);
        // AIFF is demuxed by libav (see initEngine), too large to keep
        // loaded for nothing and too slow to load in the switch itself.
        if (m_vetted && QFileInfo(path).suffix().toLower().startsWith("aif"))
            gstengine::loadPluginSoon("libav");
    }
    return m_vetted;
}

// After playbin's own handling of the end of a source: the switch is set up.
void GaplessSwitch::drainHandled() {
    std::lock_guard lock(m_mutex);
    if (m_owner != std::this_thread::get_id())
        return;
    m_owner = {};
    m_done.notify_all();
}

// A state change before the next file's pads are linked would leave them
// unlinked: its source then ends at once and playbin re-enters the switch.
void GaplessSwitch::padsLinked() {
    std::lock_guard lock(m_mutex);
    if (m_awaitingPads.exchange(false))
        m_done.notify_all();
}

// A next file that fails never links its pads: the switch is over.
void GaplessSwitch::errorPosted() {
    if (m_awaitingPads.exchange(false))
        m_done.notify_all();
}

void GaplessSwitch::streamStarts() {
    if (m_state.load() == HandOver::Armed)
        m_streamStarted = true;
}

bool GaplessSwitch::switching() const {
    return m_owner != std::thread::id() || m_awaitingPads.load();
}

GaplessSwitch::Touch::Touch(GaplessSwitch &gapless, TouchKind kind) : m_switch(gapless), m_kind(kind) {
    std::unique_lock lock(gapless.m_mutex);
    // A switch takes milliseconds; the bound only keeps a wedged one from
    // freezing the window as well. A next file's error ends the wait without
    // this lock, so short slices catch a wake-up it may miss.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (gapless.switching() && std::chrono::steady_clock::now() < deadline)
        gapless.m_done.wait_for(lock, std::chrono::milliseconds(20));
    if (gapless.switching()) {
        // Its end went unseen: wait no more for it.
        gapless.m_owner = {};
        gapless.m_awaitingPads = false;
    }
    ++gapless.m_touching;
    if (kind == TouchKind::Start)
        ++gapless.m_playTouching;
    gapless.m_offered.notify_all(); // a take waiting for an offer gives up, or waits for a start
}

GaplessSwitch::Touch::~Touch() {
    std::lock_guard lock(m_switch.m_mutex);
    --m_switch.m_touching;
    if (m_kind == TouchKind::Start)
        --m_switch.m_playTouching;
    m_switch.m_offered.notify_all();
}
