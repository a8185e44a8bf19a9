// The command loop of the tests' input devices: reads commands, one a line, from stdin and
// answers each with "ok" (or "error: TEXT: LINE") once the compositor has handled it.
#pragma once

#include <wayland-client.h>

// Runs one command line (which it may change); returns an error text, or NULL.
typedef const char* (*CommandRunner)(char* line);

// Returns on "quit" or the end of stdin; exits when the compositor goes away (0) or the
// connection breaks (1). WHO names the device in messages.
void command_loop(struct wl_display* display, const char* who, CommandRunner run);
