#pragma once

#include <QObject>

#include <functional>

// A session that ends (SIGTERM from the session manager or logind), Ctrl+C
// in a terminal (SIGINT) or a closed terminal (SIGHUP) end the player the way
// its own "Quitter" does, so that nothing of the session is lost. `quit`
// runs on the event loop of `context`'s thread; a second signal before the
// player is gone ends it at once, as the signal would have.
void QuitOnEndSignals(QObject *context, std::function<void()> quit);
