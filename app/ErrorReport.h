#pragma once

#include <QString>
#include <concepts>
#include <exception>
#include <utility>

// The standard error report: an error that escapes a handler is shown in a message box and the
// event loop goes on. Nothing is logged and nothing is retried.
namespace ErrorReport {

void show(const QString& message);
// Shows the message of the exception being handled (call from a catch block).
void showCurrent();

// Wraps a handler so that no exception unwinds through Qt: what it throws is reported here.
template <typename F> auto guard(F handler)
{
    // Constrained, so that Qt's connect() can tell how many signal arguments it takes.
    return [handler = std::move(handler)]<typename... A>(
        A && ... args) requires std::invocable<const F&, A...>
    {
        try {
            handler(std::forward<A>(args)...);
        } catch (...) {
            showCurrent();
        }
    };
}

} // namespace ErrorReport
