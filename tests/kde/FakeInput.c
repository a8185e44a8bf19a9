// Pointer and keyboard input for a headless KWin, whose seat has no devices, through
// KWin's fake input protocol (org_kde_kwin_fake_input). KWin offers it only to a program
// named by a desktop file whose Exec= is its absolute path and which lists the interface
// in X-KDE-Wayland-Interfaces. Reads commands, one a line, from stdin:
//   move X Y            absolute, in logical pixels of the layout
//   click|press|release left|right|middle
//   tap KEY...          each key pressed and released (names below)
//   chord MODIFIER KEY  KEY tapped with MODIFIER held
// and answers each with "ok" (or "error: ...") once the compositor has seen it.

#include "CommandLoop.h"
#include "fake-input-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input* input;
static uint32_t input_version;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        input_version = version < 4 ? version : 4;
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, input_version);
    }
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

struct Named {
    const char* name;
    int code;
};

static const struct Named buttons[] = {
    {"left", BTN_LEFT}, {"right", BTN_RIGHT}, {"middle", BTN_MIDDLE}, {NULL, 0}};

// X keysym names, as the sway tests' wtype takes them.
static const struct Named keys[] = {
    {"Return", KEY_ENTER}, {"KP_Enter", KEY_KPENTER},  {"Escape", KEY_ESC},
    {"Left", KEY_LEFT},    {"Right", KEY_RIGHT},       {"Up", KEY_UP},
    {"Down", KEY_DOWN},    {"space", KEY_SPACE},       {"alt", KEY_LEFTALT},
    {"ctrl", KEY_LEFTCTRL}, {"shift", KEY_LEFTSHIFT},  {"logo", KEY_LEFTMETA},
    {"a", KEY_A},          {"b", KEY_B},               {"c", KEY_C},
    {"d", KEY_D},          {"e", KEY_E},               {"k", KEY_K},
    {"p", KEY_P},          {"x", KEY_X},               {NULL, 0}};

static int lookup(const struct Named* table, const char* name) {
    for (; table->name; ++table) {
        if (strcmp(table->name, name) == 0)
            return table->code;
    }
    return -1;
}

static void key(int code, int pressed) {
    org_kde_kwin_fake_input_keyboard_key(input, (uint32_t)code,
                                         pressed ? WL_KEYBOARD_KEY_STATE_PRESSED
                                                 : WL_KEYBOARD_KEY_STATE_RELEASED);
}

// Runs one command; returns an error text, or NULL.
static const char* run(char* line) {
    double x, y;
    if (sscanf(line, "move %lf %lf", &x, &y) == 2) {
        if (input_version < 3)
            return "the compositor has no absolute motion";
        org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_double(x),
                                                        wl_fixed_from_double(y));
        return NULL;
    }
    char* verb = strtok(line, " ");
    if (!verb)
        return "unknown command";
    if (strcmp(verb, "click") == 0 || strcmp(verb, "press") == 0 || strcmp(verb, "release") == 0) {
        const char* name = strtok(NULL, " ");
        const int code = name ? lookup(buttons, name) : -1;
        if (code < 0)
            return "unknown button";
        if (strcmp(verb, "release") != 0)
            org_kde_kwin_fake_input_button(input, (uint32_t)code, WL_POINTER_BUTTON_STATE_PRESSED);
        if (strcmp(verb, "press") != 0)
            org_kde_kwin_fake_input_button(input, (uint32_t)code, WL_POINTER_BUTTON_STATE_RELEASED);
        return NULL;
    }
    if (input_version < 4)
        return "the compositor has no fake keyboard";
    if (strcmp(verb, "tap") == 0) {
        int codes[16], count = 0;
        for (char* name; (name = strtok(NULL, " ")) && count < 16;) {
            if ((codes[count] = lookup(keys, name)) < 0)
                return "unknown key";
            ++count;
        }
        for (int i = 0; i < count; ++i) {
            key(codes[i], 1);
            key(codes[i], 0);
        }
        return count ? NULL : "no key";
    }
    if (strcmp(verb, "chord") == 0) {
        const char* modifier = strtok(NULL, " ");
        const char* name = strtok(NULL, " ");
        const int held = modifier ? lookup(keys, modifier) : -1;
        const int code = name ? lookup(keys, name) : -1;
        if (held < 0 || code < 0)
            return "unknown key";
        key(held, 1);
        key(code, 1);
        key(code, 0);
        key(held, 0);
        return NULL;
    }
    return "unknown command";
}

int main(void) {
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "fake input: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!input) {
        fprintf(stderr, "fake input: KWin offers no %s to this program (is its desktop file "
                        "installed?)\n",
                org_kde_kwin_fake_input_interface.name);
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "Daubly tests", "input for end-to-end tests");
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "fake input: the compositor refused the device\n");
        return 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("ready\n");

    command_loop(display, "fake input", run);
    org_kde_kwin_fake_input_destroy(input);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
