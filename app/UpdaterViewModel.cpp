#include "UpdaterViewModel.h"

#include "Updater.h"

#include <QCoreApplication>
#include <QPointer>

namespace fennick {

UpdaterViewModel::UpdaterViewModel(Updater& updater, QObject* parent) : QObject(parent)
{
    // The handler holds the model only weakly, so a notification that outlives the model is dropped and the
    // observation never keeps the model alive. It posts through the application object rather than through
    // the model itself, because the model may be destroyed while a notification is in flight.
    const QPointer<UpdaterViewModel> model(this);
    Updater* const observed = &updater;
    auto handler = [model, observed] {
        // Read the updater's current value rather than trusting the order in which notifications arrive.
        const bool value = observed->canCheckForUpdates();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [model, value] {
                if (model) model->setCanCheckForUpdates(value);
            },
            Qt::QueuedConnection);
    };
    // No context object: the handler runs directly on the thread that emitted.
    observation_ = connect(&updater, &Updater::canCheckForUpdatesChanged, handler);
    // The initial value arrives like every later one, by a post.
    handler();
}

UpdaterViewModel::~UpdaterViewModel() { disconnect(observation_); }

void UpdaterViewModel::setCanCheckForUpdates(bool value)
{
    if (canCheckForUpdates_ == value) return;
    canCheckForUpdates_ = value;
    emit canCheckForUpdatesChanged(value);
}

} // namespace fennick
