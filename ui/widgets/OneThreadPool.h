#pragma once

// A pool that runs its jobs one at a time, for background work whose newer requests replace or
// stop older ones, so a second thread would only compete with the first.

#include <QThreadPool>

namespace fennick {

class OneThreadPool : public QThreadPool {
public:
    OneThreadPool() { setMaxThreadCount(1); }
};

} // namespace fennick
