/* The pointer and keyboard of a headless compositor, made by a client: on wlroots compositors
 * (whose seat has none until a client makes one) a wlr virtual pointer, on KWin its fake input
 * device. Reads commands from standard input until it closes: "move X Y" (absolute, in output
 * pixels of a WIDTHxHEIGHT layout given as arguments), "button 1" / "button 0" (left down /
 * up) and, on KWin, "key CODE 1" / "key CODE 0" (a Linux key code down / up). Prints "ready"
 * once the compositor has the device, and "done" after each command it has taken. */
#include "fake-input-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct wl_seat *seat;
static struct zwlr_virtual_pointer_manager_v1 *manager;
static struct org_kde_kwin_fake_input *fakeInput;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version)
{
    (void)data;
    if (!strcmp(interface, wl_seat_interface.name))
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (!strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (!strcmp(interface, org_kde_kwin_fake_input_interface.name) && version >= 4)
        fakeInput = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void globalRemove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static uint32_t now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const uint32_t width = (uint32_t)atoi(argv[1]), height = (uint32_t)atoi(argv[2]);
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "no Wayland display\n");
        return 1;
    }
    static const struct wl_registry_listener listener = {global, globalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    wl_display_roundtrip(display);
    struct zwlr_virtual_pointer_v1 *pointer = NULL;
    if (seat && manager) {
        pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    } else if (fakeInput) {
        /* KWin takes events only from a client that has said who it is. */
        org_kde_kwin_fake_input_authenticate(fakeInput, "Kavri tests", "the Wayland suite's input");
    } else {
        fprintf(stderr, "the compositor offers neither zwlr_virtual_pointer_manager_v1 nor "
                        "org_kde_kwin_fake_input version 4\n");
        return 1;
    }
    wl_display_roundtrip(display);
    printf("ready\n");
    fflush(stdout);

    char line[128];
    while (fgets(line, sizeof line, stdin)) {
        unsigned x, y, down, code;
        if (sscanf(line, "move %u %u", &x, &y) == 2) {
            if (pointer)
                zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), x, y, width, height);
            else
                org_kde_kwin_fake_input_pointer_motion_absolute(fakeInput, wl_fixed_from_int(x),
                                                                wl_fixed_from_int(y));
        } else if (sscanf(line, "button %u", &down) == 1) {
            const uint32_t state =
                down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED;
            if (pointer)
                zwlr_virtual_pointer_v1_button(pointer, now(), BTN_LEFT, state);
            else
                org_kde_kwin_fake_input_button(fakeInput, BTN_LEFT, state);
        } else if (sscanf(line, "key %u %u", &code, &down) == 2 && fakeInput) {
            org_kde_kwin_fake_input_keyboard_key(fakeInput, code,
                                                 down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                                      : WL_KEYBOARD_KEY_STATE_RELEASED);
        } else {
            printf("unknown\n");
            fflush(stdout);
            continue;
        }
        if (pointer)
            zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        printf("done\n");
        fflush(stdout);
    }
    if (pointer)
        zwlr_virtual_pointer_v1_destroy(pointer);
    if (fakeInput)
        org_kde_kwin_fake_input_destroy(fakeInput);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
