#pragma once

#include <functional>

class QMainWindow;
class QWidget;

namespace fennick {

class Updater;

// What a window's menus ask of the application; opening windows is FennickApp's job.
struct WindowRequests {
    std::function<void()> newWindow;
    std::function<void()> batchWindow;
};

// The menu bar every window has: File (New Window, Convert Several Files…, Close Window, Quit) and
// Help (About Fennick, Check for Updates…). `updater` must outlive the window.
void addWindowMenus(QMainWindow& window, Updater& updater, WindowRequests requests);

// The About box, over `parent`.
void showAbout(QWidget* parent);

} // namespace fennick
