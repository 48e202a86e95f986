#pragma once

#include <QMetaObject>
#include <QObject>

namespace fennick {

class Updater;

// Main-thread mirror of the updater's canCheckForUpdates. The updater may change its flag on any thread;
// every change is re-read there and posted here, so this object is only ever written on the main thread.
// Until the first posted value has run, canCheckForUpdates() is false.
class UpdaterViewModel : public QObject {
    Q_OBJECT

public:
    // Starts observing `updater`, which must outlive this model or be destroyed on the main thread.
    explicit UpdaterViewModel(Updater& updater, QObject* parent = nullptr);
    ~UpdaterViewModel() override;

    UpdaterViewModel(const UpdaterViewModel&) = delete;
    UpdaterViewModel& operator=(const UpdaterViewModel&) = delete;

    bool canCheckForUpdates() const { return canCheckForUpdates_; }

signals:
    // Only on a real change: delivering the value already held emits nothing.
    void canCheckForUpdatesChanged(bool canCheckForUpdates);

private:
    void setCanCheckForUpdates(bool value);

    bool canCheckForUpdates_ = false;
    QMetaObject::Connection observation_;
};

} // namespace fennick
