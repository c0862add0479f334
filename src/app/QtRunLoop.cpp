#include "app/QtRunLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace rp::app {

namespace {

// Qt timers take whole milliseconds in an int; longer waits are clamped to about 24 days.
int milliseconds(double seconds)
{
    if (!(seconds > 0.0)) {
        return 0;
    }
    return static_cast<int>(std::min(seconds * 1000.0, 2.0e9));
}

} // namespace

QtRunLoop::QtRunLoop()
{
    connect(QAbstractEventDispatcher::instance(thread()), &QAbstractEventDispatcher::aboutToBlock, this,
        &QtRunLoop::aboutToBlock);
}

QtRunLoop::~QtRunLoop() = default;

bool QtRunLoop::isMainThread() const
{
    return QThread::currentThread() == thread();
}

void QtRunLoop::perform(std::function<void()> work)
{
    if (!work) {
        return;
    }
    QMetaObject::invokeMethod(this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

void QtRunLoop::performAndWait(std::function<void()> work)
{
    if (!work) {
        return;
    }
    if (isMainThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(this, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void QtRunLoop::runFor(double seconds)
{
    if (!isMainThread()) {
        return;
    }
    QEventLoop loop;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QTimer::singleShot(milliseconds(seconds), &loop, &QEventLoop::quit);
    loop.exec();
    finishTurn(TurnEnd::Nested);
}

bool QtRunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds)
{
    if (!isMainThread()) {
        return done();
    }
    if (done()) {
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = milliseconds(timeoutSeconds);
    QEventLoop loop;
    QTimer poll;
    // A condition changed by another thread without posting work is still seen within 5 ms.
    poll.setInterval(5);
    bool result = false;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        result = done();
        if (result || clock.elapsed() >= limit) {
            loop.quit();
        }
    });
    poll.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    result = done();
    if (!result && clock.elapsed() < limit) {
        loop.exec();
    }
    finishTurn(TurnEnd::Nested);
    return result || done();
}

RunLoop::TimerId QtRunLoop::addTimer(double intervalSeconds, bool repeats, std::function<void()> fire)
{
    const TimerId id = nextTimer_++;
    auto* timer = new QTimer(this);
    timer->setSingleShot(!repeats);
    timer->setInterval(std::max(milliseconds(intervalSeconds), repeats ? 1 : 0));
    connect(timer, &QTimer::timeout, this, [this, id, repeats, fire = std::move(fire)] {
        if (!repeats) {
            if (auto it = timers_.find(id); it != timers_.end()) {
                if (it->second) {
                    it->second->deleteLater();
                }
                timers_.erase(it);
            }
        }
        fire();
    });
    timers_[id] = timer;
    timer->start();
    return id;
}

void QtRunLoop::cancelTimer(TimerId id)
{
    if (auto it = timers_.find(id); it != timers_.end()) {
        if (it->second) {
            it->second->stop();
            it->second->deleteLater();
        }
        timers_.erase(it);
    }
}

void QtRunLoop::aboutToBlock()
{
    // Flushing may post notifications whose handlers spin a nested loop; that loop's own
    // about-to-block must not re-enter the flush under way.
    if (finishing_) {
        return;
    }
    finishing_ = true;
    // The application's own loop is level 1; a modal dialog or a wait in runFor runs inside it, and
    // must not close the undo group of the user action that opened it.
    finishTurn(QThread::currentThread()->loopLevel() > 1 ? TurnEnd::Nested : TurnEnd::Outermost);
    finishing_ = false;
}

} // namespace rp::app
