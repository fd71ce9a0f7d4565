// What the libusb-1.0 front's files share: libusb's opaque types as the
// front fills them and the conversion of host-layer results.
#pragma once

#include <libusb.h>

#include <cstddef>
#include <cstdint>

#include "host.h"
#include "world.h"

// libusb.h only declares these; what they hold is the front's business.
struct libusb_context {
    int unused = 0;
};

// One device of one bench generation. Like libusb's, it caches the
// descriptors read at enumeration, so they stay readable after the bench
// is reset; opening it then fails.
struct libusb_device {
    uint64_t generation = 0;
    size_t index = 0;
    int refs = 1;
    uint8_t port = 0;
    tapsim::host::Speed speed = tapsim::host::Speed::Full;
    tapsim::host::DeviceDescriptor descriptor;
    tapsim::host::ConfigDescriptor config;
};

struct libusb_device_handle {
    libusb_device *dev = nullptr;
    tapsim::host::Handle handle;
};

namespace tapsim {
namespace front1 {

// A negative errno as a LIBUSB_ERROR_* code; others pass through.
int to_libusb(int r);

// Runs body on the locked bench; returns a libusb result.
template <typename F> int locked(F &&body)
{
    return to_libusb(host::guarded([&] {
        auto guard = World::lock();
        return body(World::get());
    }));
}

template <typename F> int on_handle(libusb_device_handle *h, F &&body)
{
    if (!h)
        return LIBUSB_ERROR_INVALID_PARAM;
    return locked([&](World &w) { return body(w, h->handle); });
}

} // namespace front1
} // namespace tapsim
