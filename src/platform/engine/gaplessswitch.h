#pragma once

// The gapless switch: playbin, from its streaming thread, continues into the
// next file when the current one has been read to its end. This holds what
// that thread may take and the guard that keeps it apart from the UI thread.
//
// Threads and calls
//   UI thread         offer, drop, heard, state, mayTake, the Touch guard;
//                     every pipeline state change, new URI, flag change or
//                     seek it makes holds a Touch.
//   streaming thread  take (from playbin's about-to-finish), drainHandled
//                     (after playbin's own "drained" handler), streamStarts
//                     and segmentStarts (the output's sink pad).
//   the next file's   padsLinked (after its "no-more-pads").
//   own thread
//   any poster        errorPosted (a bus error: a failing next file never
//                     links its pads).
//
// Locks
//   m_mutex guards the offered URI and file, the count of Touches held and
//   the thread switching. take holds it while it sets playbin's URI, so a
//   Touch cannot begin halfway. Lock order: playbin's own locks may be held
//   when m_mutex is taken (take runs inside playbin's signal); m_mutex is
//   never held while calling into playbin from the UI thread, and
//   errorPosted never takes it (its poster may hold playbin's lock).
//   The hand-over state is atomic: None -> Armed on the streaming thread
//   (under m_mutex), Armed -> Heard and any -> None on the UI thread.
//
// An offer is due from an open or a take until the player has answered the
// control's NextFileWanted (settle). A take with an offer due waits for it:
// a short file is read whole as soon as it is taken, long before its start
// is heard and the player says what follows it. The output plays on meanwhile;
// a Touch, a drop or a settle with nothing offered ends the wait at once.
//
// While a switch runs (take .. drainHandled and padsLinked) the UI thread
// may not change playbin's state, URI or flags, nor seek: the switch takes
// playbin's locks in the opposite order, and both would wait for good. A
// Touch waits for the switch to end; a switch is never started while a
// Touch is held. A take waits (bounded) for a Touch of kind Start to end,
// and gives up at once under any other.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

class GaplessSwitch {
public:
    enum class HandOver {
        None,  // nothing taken: the current file ends the usual way
        Armed, // playbin took the offered file and plays into it
        Heard, // its first sample was heard: the current file's end reported
    };

    // UI thread.
    // What the streaming thread may take; ignored once a file was taken
    // (only a drop undoes that). An empty URI offers nothing.
    void offer(const QByteArray &uri, const QString &path);
    void drop();
    // The taken file is now the current one: nothing armed, its own
    // next file still due.
    void adopted();
    // An open begins: what follows it is due. settle: the player answered.
    void expectOffer();
    void settle();
    HandOver state() const { return m_state.load(); }
    // Armed -> Heard: returns the file taken.
    QString heard();
    // The file taken, Armed or Heard.
    QString taken() const;
    // Whether the file may be switched to on the streaming thread; checked
    // once per file offered (the MPEG check walks the whole file).
    bool mayTake(const QString &path);

    // Streaming thread. Sets the offered URI through setUri, under the lock,
    // unless a Touch is held or nothing is offered. The wait for an offer due
    // is bounded only so that a player that never answers cannot hold the
    // end of the file for good.
    template <class SetUri>
    bool take(SetUri &&setUri, std::chrono::milliseconds maxWait = std::chrono::seconds(5));
    void drainHandled();
    void padsLinked();
    void errorPosted();
    // The output's sink pad: a stream start while armed, then its segment.
    void streamStarts();
    bool segmentStarts() { return m_streamStarted.exchange(false); }

    // Start: the change only sets playbin playing, which never waits for a
    // streaming thread, so a take may wait for it to end rather than give
    // the switch up (a short file's end often comes as it starts).
    enum class TouchKind { Any, Start };
    class Touch {
    public:
        explicit Touch(GaplessSwitch &gapless, TouchKind kind = TouchKind::Any);
        ~Touch();
        Touch(const Touch &) = delete;
        Touch &operator=(const Touch &) = delete;

    private:
        GaplessSwitch &m_switch;
        TouchKind m_kind;
    };

    // UI thread: the next file as offered by the player, one that failed (not
    // taken again for this file) and how many were adopted with no restart.
    QString next;
    QString refused;
    int handOvers = 0;

private:
    // How long a take waits for a start under way; a bound, should one ever
    // wait for this thread after all.
    static constexpr std::chrono::milliseconds kStartWait{250};
    bool switching() const;
    void forgetTaken(); // m_mutex held

    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    std::condition_variable m_offered;
    std::atomic<HandOver> m_state{HandOver::None};
    QByteArray m_uri;        // guarded by m_mutex
    QString m_path;          // guarded by m_mutex
    int m_touching = 0;      // guarded by m_mutex
    int m_playTouching = 0;  // guarded by m_mutex: those of kind Start
    bool m_offerDue = false; // guarded by m_mutex
    std::thread::id m_owner; // guarded by m_mutex: the thread of a switch under way
    std::atomic<bool> m_awaitingPads{false};
    std::atomic<bool> m_streamStarted{false};
    // UI thread: the last file checked by mayTake, and the answer.
    QString m_vettedPath;
    bool m_vetted = false;
};

template <class SetUri> bool GaplessSwitch::take(SetUri &&setUri, std::chrono::milliseconds maxWait) {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    const auto deadline = Clock::now() + maxWait;
    std::optional<Clock::time_point> touchBound;
    for (;;) {
        if (m_uri.isEmpty() && !m_offerDue)
            break; // nothing offered, nothing coming
        // While the UI thread changes playbin the next file opens the usual
        // way; only a start, which never waits for this thread, is waited for.
        if (m_touching > m_playTouching)
            break;
        if (m_touching == 0 && !m_uri.isEmpty())
            break;
        if (m_touching > 0 && !touchBound)
            touchBound = Clock::now() + kStartWait;
        const auto until = touchBound && m_touching > 0 ? std::min(deadline, *touchBound) : deadline;
        if (Clock::now() >= until)
            break;
        m_offered.wait_until(lock, until);
    }
    if (m_uri.isEmpty() || m_touching > 0)
        return false;
    setUri(m_uri.constData());
    m_uri.clear();
    m_state = HandOver::Armed;
    m_offerDue = true; // the player knows what follows only once it is heard
    m_owner = std::this_thread::get_id();
    m_awaitingPads = true;
    return true;
}
