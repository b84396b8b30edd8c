#pragma once

#include <QObject>
#include <functional>

// Every handler that a signal, a timer or an event runs goes through here, so that no exception
// ever crosses the event loop: a store or file error is shown with its message (the error's
// description alone, OK button, no icon), anything else as an unexpected error, and the program
// goes on. A handler keeps its window consistent by doing its checks before it changes anything.
namespace guard {

// Runs `handler`; returns false when it failed (the message has been shown).
bool run(const std::function<void()>& handler) noexcept;

// Connects a signal to a handler that runs guarded. The handler takes no arguments: capture what
// it needs (a slot may take fewer arguments than its signal gives).
template <typename Sender, typename Signal, typename Handler>
QMetaObject::Connection connect(const Sender* sender, Signal signal, const QObject* context, Handler handler)
{
    return QObject::connect(sender, signal, context, [handler = std::move(handler)] { run(handler); });
}

// Shows the busy cursor while the archive waits for another user's lock; installed once at start.
void installWaitCursor();

} // namespace guard
