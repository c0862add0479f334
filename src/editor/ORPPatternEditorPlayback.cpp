// The pattern editor: starting and stopping the player, and the heartbeat that moves the play head
// and the insertion point after it.

#include "editor/ORPPatternEditor.h"
#include "foundation/NotificationCenter.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <cmath>

namespace {

ORPRect headerStrip(const ORPRect& frame)
{
    return { frame.x, frame.y, frame.width, ORPPatternEditor::kHeaderHeight };
}

} // namespace

bool ORPPatternEditor::isPlaying() const
{
    // The editor plays while it follows a run; a run that has just ended by itself is noticed (and
    // the heartbeat stopped) at the next beat.
    return heartbeatRunning_;
}

ORPPatternInstancePtr ORPPatternEditor::liveInstance(const ORPPatternInstancePtr& instance) const
{
    if (!instance)
        return nullptr;
    if (indexOf_.count(instance.get()))
        return instance;
    for (const auto& candidate : instances_)
        if (candidate->pattern() == instance->pattern() && candidate->sectionMarker() == instance->sectionMarker())
            return candidate;
    return nullptr;
}

bool ORPPatternEditor::startPlayingOnce(bool once)
{
    if (heartbeatRunning_ || stoppingPlayback_ || instances_.empty() || !player_)
        return false;
    // A player started by someone else is followed as it is.
    if (!player_->isPlaying())
        player_->startPlaybackOnceOnly(once);
    enableInsertionPointBlink(false);
    heartbeatRunning_ = true;
    view_.setPlaybackTimer(true);
    rp::NotificationCenter::defaultCenter().post(
        ORPPatternEditorPlaybackStartedNotification, static_cast<const ORPPlayerEditor*>(this));
    return true;
}

bool ORPPatternEditor::stopPlaying()
{
    if (!heartbeatRunning_ || stoppingPlayback_)
        return false;
    // Stopping the player runs the main loop while the renderer finishes: the flags make a beat or
    // a start that comes in meanwhile a no-op rather than a second stop or a new run.
    stoppingPlayback_ = true;
    heartbeatRunning_ = false;
    view_.setPlaybackTimer(false);
    if (player_)
        player_->stopAndReset();
    stoppingPlayback_ = false;
    playbackHeartbeat();
    enableInsertionPointBlink(true);
    rp::NotificationCenter::defaultCenter().post(
        ORPPatternEditorPlaybackStoppedNotification, static_cast<const ORPPlayerEditor*>(this));
    return true;
}

void ORPPatternEditor::playOrStopAction()
{
    if (!stopPlaying())
        startPlayingOnce(false);
}

void ORPPatternEditor::redrawPlayHead(const ORPPatternInstancePtr& instance, int16_t div, bool header)
{
    if (!instance)
        return;
    if (div >= 0)
        view_.redrawRect(gridColumnRect(instance->frame(), div));
    if (header)
        view_.redrawRect(headerStrip(instance->frame()));
}

void ORPPatternEditor::playbackHeartbeat()
{
    ORPPatternInstancePtr reported;
    float place = 0;
    if (player_ && !player_->getCurrentPatternInstance(reported, place))
        reported = nullptr;
    // The player plays the bars it was given; after a rebuild the editor shows others.
    ORPPatternInstancePtr patti = liveInstance(reported);
    const bool ended = !reported;
    if (!ended && !patti)
        return; // the bar being played is no longer shown: nothing to follow this beat
    int16_t div = -1;
    if (patti) {
        const int64_t n = numDivsForPattern(*patti->pattern());
        // Before the first bar's start or after the last bar's end the player reports places
        // outside the bar.
        place = std::isfinite(place) ? std::clamp(place, 0.0f, 1.0f) : 0.0f;
        div = static_cast<int16_t>(std::clamp<int64_t>(static_cast<int64_t>(place * static_cast<float>(n)), 0, n - 1));
    }
    const ORPPatternInstancePtr last = playingPatti_;
    const int16_t lastDiv = playingDiv_;
    if (patti != last || div != lastDiv) {
        const bool header = patti != last;
        redrawPlayHead(last, lastDiv, header);
        redrawPlayHead(patti, div, header);
    }
    playingPatti_ = patti;
    playingDiv_ = div;
    if (ended) {
        // A beat of the running timer that finds the player done: the run reached its end. The
        // player ends a run up to a beat before the end of its last bar, so the play head may not
        // have reached the last division: the insertion point goes to the end of that bar, where
        // the next run starts again from the top. A stop by hand (the timer already stopped) leaves
        // it one division past where the play head was last.
        const bool reachedEnd = heartbeatRunning_;
        stopPlaying();
        patti = liveInstance(last);
        if (!patti)
            return;
        const float step = 1.0f / static_cast<float>(numDivsForPattern(*patti->pattern()));
        place = reachedEnd ? 1.0f : std::min(insertPlace_ + step, 1.0f);
    }
    view_.redrawRect(insertionRect_);
    setInsertAtPlace(place, patti);
    scrollInsertionPointToVisible();
    anchorPatti_ = insertPatti_;
    anchorPlace_ = insertPlace_;
    view_.redrawRect(insertionRect_);
    if (showPlayingInstance_)
        showPlayingInstance_(patti, place);
}
