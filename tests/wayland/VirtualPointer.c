// A pointer for a headless compositor, whose seat has no devices: clients see no
// pointer until one exists, and it must outlive single commands (a destroyed device
// takes the pointer away again). Reads commands, one a line, from stdin:
//   move X Y          absolute, in layout pixels (fractions address device pixels
//                     of scaled outputs)
//   click left|right|middle
//   press|release left|right|middle
// and answers each with "ok" (or "error: ...") once the compositor has seen it.
// Needs WIDTH HEIGHT of the layout as arguments: absolute motion is relative to it.

#include "CommandLoop.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

// Fractions of a layout pixel the device resolves.
enum { kSteps = 100 };

static struct zwlr_virtual_pointer_manager_v1* manager;
static struct zwlr_virtual_pointer_v1* pointer;
// The layout's extent in pixels, which absolute positions are relative to.
static double layout_width, layout_height;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
    (void)data;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface,
                                   version < 2 ? version : 2);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

static int button_code(const char* name) {
    if (strcmp(name, "left") == 0)
        return BTN_LEFT;
    if (strcmp(name, "right") == 0)
        return BTN_RIGHT;
    if (strcmp(name, "middle") == 0)
        return BTN_MIDDLE;
    return -1;
}

static void button(int code, int pressed) {
    zwlr_virtual_pointer_v1_button(pointer, now_ms(), (uint32_t)code,
                                   pressed ? WL_POINTER_BUTTON_STATE_PRESSED
                                           : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer);
}

// Runs one command; returns an error text, or NULL.
static const char* run(char* line) {
    char verb[16], arg[16];
    double x, y;
    if (sscanf(line, "move %lf %lf", &x, &y) == 2) {
        if (x < 0 || y < 0 || x >= layout_width || y >= layout_height)
            return "outside the layout";
        zwlr_virtual_pointer_v1_motion_absolute(
            pointer, now_ms(), (uint32_t)lround(x * kSteps), (uint32_t)lround(y * kSteps),
            (uint32_t)lround(layout_width * kSteps), (uint32_t)lround(layout_height * kSteps));
        zwlr_virtual_pointer_v1_frame(pointer);
        return NULL;
    }
    if (sscanf(line, "%15s %15s", verb, arg) != 2)
        return "unknown command";
    const int code = button_code(arg);
    if (code < 0)
        return "unknown button";
    if (strcmp(verb, "click") == 0) {
        button(code, 1);
        button(code, 0);
    } else if (strcmp(verb, "press") == 0)
        button(code, 1);
    else if (strcmp(verb, "release") == 0)
        button(code, 0);
    else
        return "unknown command";
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 3 || (layout_width = atof(argv[1])) <= 0 || (layout_height = atof(argv[2])) <= 0) {
        fprintf(stderr, "usage: %s LAYOUT-WIDTH LAYOUT-HEIGHT  (commands on stdin)\n", argv[0]);
        return 2;
    }
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "virtual pointer: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        fprintf(stderr, "virtual pointer: the compositor offers no %s\n",
                zwlr_virtual_pointer_manager_v1_interface.name);
        return 1;
    }
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, NULL);
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "virtual pointer: the compositor refused the device\n");
        return 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("ready\n");

    command_loop(display, "virtual pointer", run);
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
