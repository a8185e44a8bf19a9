#include "platform/Workspace.h"

// Workspace has no code of its own; this file gives moc a home for its signals.
