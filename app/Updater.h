#pragma once

#include <QObject>

#include <atomic>

namespace fennick {

// The part of an update layer that the "Check for Updates…" command relies on: one observable flag and
// one action.
class Updater : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // True when a user-initiated check may start now. Safe to read from any thread.
    bool canCheckForUpdates() const { return canCheckForUpdates_.load(); }

    // Starts a user-initiated check; the updater shows its outcome in its own dialogs. Main thread only.
    virtual void checkForUpdates() = 0;

signals:
    // Emitted on whichever thread changed the flag, directly from that thread: receivers must not touch
    // main-thread state from their slot.
    void canCheckForUpdatesChanged();

protected:
    // Emits canCheckForUpdatesChanged() only when the value actually changes.
    void setCanCheckForUpdates(bool value);

private:
    std::atomic<bool> canCheckForUpdates_{false};
};

} // namespace fennick
