#pragma once

// Qt reports some failures only through its own messages on stderr, then acts on them:
// a broken X connection is one warning ("The X11 connection broke") followed by exit(1).
// Those messages are also written to Daubly's log, so the journal says why it stopped.

#include <QtGlobal>

// Installs the handler once; every message still reaches the handler before it.
void installQtMessageLog();

// The messages that go to Daubly's log: the platform plugin's warnings, Qt's plain
// warnings, and any critical or fatal message.
bool isLoggedQtMessage(QtMsgType type, const char* category);
