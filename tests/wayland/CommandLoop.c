#include "CommandLoop.h"

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

void command_loop(struct wl_display* display, const char* who, CommandRunner run) {
    // Waits on the compositor too: a device left behind by a session that ended would
    // otherwise block on stdin for ever. stdin is read unbuffered so that poll sees every
    // line that is waiting.
    char pending[4096];
    size_t used = 0;
    struct pollfd fds[2] = {{0, POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
    for (;;) {
        wl_display_flush(display);
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents) {
            if (wl_display_dispatch(display) < 0)
                exit(0);
            continue;
        }
        const ssize_t got = read(0, pending + used, sizeof pending - 1 - used);
        if (got <= 0)
            return;
        used += (size_t)got;
        pending[used] = '\0';
        char* line = pending;
        char* end;
        while ((end = strchr(line, '\n'))) {
            *end = '\0';
            if (strcmp(line, "quit") == 0)
                return;
            if (line[0] != '\0' && line[0] != '#') {
                // The runner may cut the line up: the answer quotes a copy.
                char command[sizeof pending];
                strcpy(command, line);
                const char* error = run(line);
                // The round trip returns once the compositor has handled what was sent.
                if (wl_display_roundtrip(display) < 0) {
                    fprintf(stderr, "%s: the connection broke\n", who);
                    exit(1);
                }
                if (error)
                    printf("error: %s: %s\n", error, command);
                else
                    printf("ok\n");
            }
            line = end + 1;
        }
        used -= (size_t)(line - pending);
        memmove(pending, line, used);
        if (used == sizeof pending - 1)
            used = 0; // a line longer than any command
    }
}
