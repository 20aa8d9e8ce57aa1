// The next track, known ahead: the stopped rule's choice, computed without
// acting on it, so the media control can play into it with no gap.
#include "player/form1.h"

Form1::ContinueStep Form1::ContinueTarget() const {
    // The programme wraps on its own length, the folder on the folder's.
    const bool programme = PlayMode == kModeProgramme;
    const int next = TrackIndex + 1;
    const bool hasNext = programme ? next >= 0 && next < List3->count() : !File1->List(next).isEmpty();
    ContinueStep step;
    step.next = hasNext ? next : 0;
    const QString path = Dir1->Path();
    step.folder = path == "/" ? QString() : path;
    if (programme) {
        step.path = ProgrammePath(step.next);
    } else if (!File1->List(step.next).isEmpty()) {
        step.path = step.folder + "/" + File1->List(step.next);
    }
    return step;
}

Form1::RandomDraw Form1::DrawFor(int mode) {
    const int count = File1->ListCount();
    const qsizetype pool = RandomPool.size();
    if (PendingDraw && PendingDraw->mode == mode && PendingDraw->count == count &&
        PendingDraw->poolSize == pool &&
        (mode == kModeRandomRepeat || pool == 0 ||
         (PendingDraw->slot < pool && RandomPool[PendingDraw->slot] == PendingDraw->pick)))
        return *PendingDraw;
    RandomDraw draw;
    draw.mode = mode;
    draw.poolSize = pool;
    draw.count = count;
    if (mode == kModeRandomRepeat) {
        draw.pick = int(Rnd() * count);
    } else {
        // An empty pool is rebuilt whole first: slot i then holds index i.
        draw.slot = int(Rnd() * (pool > 0 ? pool : count));
        draw.pick = pool > 0 ? RandomPool[draw.slot] : draw.slot;
        if (draw.pick >= count && count > 0)
            draw.fresh = int(Rnd() * count);
    }
    PendingDraw = draw;
    return draw;
}

QString Form1::NextTrack() {
    // A repeated file plays again before the rule runs.
    if (ActiveMovie1->PlayCount() > 1)
        return {};
    switch (PlayMode) {
    case kModeContinuous:
        if (!LectCont->isChecked())
            return {};
        return ContinueTarget().path;
    case kModeProgramme:
    case kModeIntroductions:
        // An introduction cut short is not played into: the control itself
        // takes the next file only after a file played whole.
        return ContinueTarget().path;
    case kModeRandom:
    case kModeRandomRepeat: {
        const int count = File1->ListCount();
        if (count == 0)
            return {};
        const RandomDraw draw = DrawFor(PlayMode);
        // A pool built for a longer folder starts a new cycle.
        return TrackPath(File1->List(draw.pick < count ? draw.pick : draw.fresh));
    }
    default:
        // A stop shows the stop display.
        return {};
    }
}

void Form1::OfferNextTrack() {
    ActiveMovie1->setNextFileName(NextTrack());
}
