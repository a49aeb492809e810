/* A virtual pointer for the Wayland end-to-end tests (a headless seat has none). After "ready",
 * reads commands a line each, "move X Y W H" (to X, Y of a W x H layout), "press" or "release"
 * (the left button), sends each with a frame (a client may hold pointer events back until it
 * comes) and answers "ok" once the compositor has it. No package here ships
 * wlr-virtual-pointer-unstable-v1: its two interfaces are spelled out below as wayland-scanner
 * would generate them, up to the last request used (a request goes by its index). */
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static const struct wl_interface *no_types[] = {NULL, NULL, NULL, NULL, NULL};
extern const struct wl_interface zwlr_virtual_pointer_v1_interface;
static const struct wl_interface *create_types[] = {&wl_seat_interface,
                                                    &zwlr_virtual_pointer_v1_interface};

static const struct wl_message pointer_requests[] = {
    {"motion", "uff", no_types}, {"motion_absolute", "uuuuu", no_types},
    {"button", "uuu", no_types}, {"axis", "uuf", no_types},
    {"frame", "", no_types},
};
const struct wl_interface zwlr_virtual_pointer_v1_interface = {"zwlr_virtual_pointer_v1", 1, 5,
                                                               pointer_requests,          0, NULL};

static const struct wl_message manager_requests[] = {
    {"create_virtual_pointer", "?on", create_types}};
static const struct wl_interface manager_interface = {
    "zwlr_virtual_pointer_manager_v1", 1, 1, manager_requests, 0, NULL};

static struct wl_seat *seat;
static struct wl_proxy *manager;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, "wl_seat") == 0 && seat == NULL) {
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  } else if (strcmp(interface, manager_interface.name) == 0) {
    manager = wl_registry_bind(registry, name, &manager_interface, 1);
  }
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(void) {
  struct wl_display *display = wl_display_connect(NULL);
  if (display == NULL) {
    fprintf(stderr, "wlpointer: no Wayland display\n");
    return 1;
  }
  struct wl_registry *registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (manager == NULL) {
    fprintf(stderr, "wlpointer: the compositor offers no virtual pointers\n");
    return 1;
  }
  struct wl_proxy *pointer =
      wl_proxy_marshal_constructor(manager, 0, &zwlr_virtual_pointer_v1_interface, seat, NULL);
  wl_display_roundtrip(display);
  printf("ready\n");
  fflush(stdout);
  char line[128];
  while (fgets(line, sizeof line, stdin) != NULL) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint32_t ms = (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
    unsigned x, y, w, h;
    if (sscanf(line, "move %u %u %u %u", &x, &y, &w, &h) == 4) {
      wl_proxy_marshal(pointer, 1, ms, x, y, w, h); /* motion_absolute */
    } else if (strncmp(line, "press", 5) == 0 || strncmp(line, "release", 7) == 0) {
      wl_proxy_marshal(pointer, 2, ms, 0x110 /* BTN_LEFT */, line[0] == 'p' ? 1U : 0U);
    } else {
      printf("? %s", line);
      fflush(stdout);
      continue;
    }
    wl_proxy_marshal(pointer, 4); /* frame */
    wl_display_roundtrip(display);
    printf("ok\n");
    fflush(stdout);
  }
  wl_display_disconnect(display); /* the compositor drops the pointer with us */
  return 0;
}
