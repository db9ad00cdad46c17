// The one place where a failure that escapes a window handler or a timer tick is shown.
//
// Qt must never see an exception leave a slot, so every handler of the window is connected
// through `Guarded`, which runs it and hands anything it throws to `ShowError`. The program
// keeps running; only the failed handler is cut short.
//
// One message box at a time: the box is modal, and while it is open the event loop keeps
// turning, so a failure that repeats every second (a timer tick writing to a missing
// directory) would otherwise stack one box on top of the other without bound. Errors that
// arrive while a box is open are dropped and counted instead.
#pragma once

#include <QString>

#include <concepts>
#include <functional>
#include <utility>

class QObject;
class QWidget;

class TErrorDisplay {
public:
    using TPresenter = std::function<void(const QString& AText)>;

    // Shows AText unless a box is already open. Never throws.
    static void ShowError(const QString& AText);
    // Shows the message of the exception being handled (call from a catch block).
    static void ShowCurrentException();
    // The same, shown from AContext's event loop once the current call has returned: for
    // handlers that must return at once (an IRC event, whose reader waits for it). Dropped
    // if AContext is gone by then.
    static void ShowCurrentExceptionLater(QObject* AContext);

    // Replaces the message box (for tests on a display nobody looks at); an empty function
    // restores the box. Returns the previous presenter.
    static TPresenter SetPresenter(TPresenter APresenter);
    // The window the box is modal to; null means none.
    static void SetParent(QWidget* AParent);

    static bool Showing();
    // Errors dropped because a box was open, since the start.
    static int Dropped();
};

// Wraps a handler so that whatever it throws reaches the error display. The wrapper takes
// exactly the arguments the handler takes, so Qt drops surplus signal arguments as usual.
template <class F> auto Guarded(F AHandler) {
    return [handler = std::move(AHandler)](
        auto&&... AArgs) requires std::invocable<const F&, decltype(AArgs)...> {
        try {
            handler(std::forward<decltype(AArgs)>(AArgs)...);
        } catch (...) {
            TErrorDisplay::ShowCurrentException();
        }
    };
}
