#pragma once

#include "foundation/RunLoop.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>

namespace rp::app {

// The engine's main run loop on Qt's event loop. Work posted from any thread becomes a queued call on
// the main thread; timers are QTimers; runFor/runUntil spin a local QEventLoop (a modal wait). The end
// of a turn is the moment Qt's dispatcher is about to block: the notification queue is flushed then; the
// end-of-turn hooks (which close the automatic undo group) run only when the outermost loop blocks.
class QtRunLoop final : public QObject, public RunLoop {
    Q_OBJECT
public:
    QtRunLoop();
    ~QtRunLoop() override;

    bool isMainThread() const override;
    void perform(std::function<void()> work) override;
    void performAndWait(std::function<void()> work) override;
    void runFor(double seconds) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
    TimerId addTimer(double intervalSeconds, bool repeats, std::function<void()> fire) override;
    void cancelTimer(TimerId id) override;

private:
    void aboutToBlock();

    std::map<TimerId, QPointer<QTimer>> timers_;
    TimerId nextTimer_ = 1;
    bool finishing_ = false;
};

} // namespace rp::app
