#pragma once

// Work off the main thread that reports back to it: the main thread owns every window's state, so
// a job posts what it found and never waits for the main thread.

#include "FennickEngine.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace fennick {

// A pool that runs its jobs one at a time, for background work whose newer requests replace or
// stop older ones, so a second thread would only compete with the first.
class OneThreadPool : public QThreadPool {
public:
    OneThreadPool() { setMaxThreadCount(1); }
};

// Runs `task` on the main thread later; never waits for it. Dropped when the application is gone.
inline void postToMainThread(std::function<void()> task)
{
    if (QCoreApplication* const application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
}

// Runs `work` on `pool` and hands `deliver` its result, or the text of what it threw, on the main
// thread, as long as `receiver` still exists then (a closed window's job may outlive it). A
// cancelled job (ConversionCancelled) delivers nothing.
template <typename Receiver, typename Work, typename Deliver>
void runInBackground(QThreadPool& pool, Receiver* receiver, Work work, Deliver deliver)
{
    pool.start([self = QPointer<Receiver>(receiver), work = std::move(work), deliver = std::move(deliver)] {
        std::optional<decltype(work())> result;
        QString error;
        try {
            result.emplace(work());
        } catch (const ConversionCancelled&) {
            return;
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        } catch (...) {
            error = QStringLiteral("Unknown error.");
        }
        postToMainThread([self, deliver, result = std::move(result), error] {
            if (self) deliver(*self, result, error);
        });
    });
}

} // namespace fennick
