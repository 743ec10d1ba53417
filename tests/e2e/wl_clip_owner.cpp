// wl_clip_owner: puts one clip with several MIME types on a Wayland compositor's
// clipboard through wlr-data-control, as a password manager or a browser does
// there, and serves it until another program takes the clipboard.
//
//   wl_clip_owner TYPE=VALUE [TYPE=VALUE ...]
//
// Prints "owner ready" on standard output once the compositor made the clip the
// selection; exits 0 when it loses the clipboard, 1 after 60 seconds without
// losing it or when the compositor cannot be used, 2 on a wrong command line.
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

struct Owner {
  std::vector<std::pair<std::string, std::string>> types;
  zwlr_data_control_manager_v1* manager = nullptr;
  wl_seat* seat = nullptr;
  bool cancelled = false;
};

void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* owner = static_cast<Owner*>(data);
  if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
    owner->manager = static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
  else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !owner->seat)
    owner->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}
void GlobalRemove(void*, wl_registry*, uint32_t) {}

void Send(void* data, zwlr_data_control_source_v1*, const char* mime, int32_t fd) {
  auto* owner = static_cast<Owner*>(data);
  for (const auto& [type, value] : owner->types)
    if (type == mime) {
      size_t done = 0;
      while (done < value.size()) {
        ssize_t n = write(fd, value.data() + done, value.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
    }
  close(fd);
}
void Cancelled(void* data, zwlr_data_control_source_v1*) {
  static_cast<Owner*>(data)->cancelled = true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: wl_clip_owner TYPE=VALUE [TYPE=VALUE ...]\n");
    return 2;
  }
  Owner owner;
  for (int i = 1; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (!eq || eq == argv[i]) {
      std::fprintf(stderr, "wl_clip_owner: '%s' is not TYPE=VALUE\n", argv[i]);
      return 2;
    }
    owner.types.emplace_back(std::string(argv[i], static_cast<size_t>(eq - argv[i])), std::string(eq + 1));
  }
  signal(SIGPIPE, SIG_IGN);
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "wl_clip_owner: no Wayland compositor\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(display);
  static const wl_registry_listener registry_listener{&Global, &GlobalRemove};
  wl_registry_add_listener(registry, &registry_listener, &owner);
  wl_display_roundtrip(display);
  if (!owner.manager || !owner.seat) {
    std::fprintf(stderr, "wl_clip_owner: the compositor offers no wlr-data-control or no seat\n");
    return 1;
  }
  zwlr_data_control_device_v1* device =
      zwlr_data_control_manager_v1_get_data_device(owner.manager, owner.seat);
  zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(owner.manager);
  static const zwlr_data_control_source_v1_listener source_listener{&Send, &Cancelled};
  zwlr_data_control_source_v1_add_listener(source, &source_listener, &owner);
  for (const auto& [type, value] : owner.types) zwlr_data_control_source_v1_offer(source, type.c_str());
  zwlr_data_control_device_v1_set_selection(device, source);
  if (wl_display_roundtrip(display) < 0) return 1;
  std::printf("owner ready\n");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!owner.cancelled) {
    if (std::chrono::steady_clock::now() > end) return 1;
    while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
    wl_display_flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, 500) > 0) {
      if (wl_display_read_events(display) < 0) return 1;
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) return 1;
  }
  zwlr_data_control_source_v1_destroy(source);
  zwlr_data_control_device_v1_destroy(device);
  wl_display_disconnect(display);
  return 0;
}
