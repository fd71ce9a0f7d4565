// The libusb 0.1 API over the simulated bench, for libftdi 0.x to call.
// Devices, handles and transfers are the host layer's (host.h); this file
// only gives them libusb 0.1's types. Errors follow libusb 0.1 on Linux: a
// negative errno, errno set, and a message for usb_strerror().

#include <usb.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "host.h"
#include "open_handles.h"
#include "world.h"

using tapsim::Device;
using tapsim::World;
namespace host = tapsim::host;

// libusb 0.1's handle layout, so code that peeks at it finds what it
// expects: libftdi's async clean-up in ftdi_usb_close() puts fd into an
// fd_set, which aborts on a negative descriptor.
struct usb_dev_handle {
    int fd;
    struct usb_bus *bus;
    struct usb_device *device;
    int config;
    int interface;
    int altsetting;
    void *impl_info;
    // Ours.
    host::Handle handle;
};

// Declared by usb.h outside its extern "C" block; global variables are
// not mangled, so this is the C symbol all the same.
struct usb_bus *usb_busses = nullptr;

namespace {

char g_error[256] = "no error";

// Never destroyed: the handles stay listed until the process is gone.
tapsim::OpenHandles<usb_dev_handle> *g_open =
    new tapsim::OpenHandles<usb_dev_handle>;

int fail(int err, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int fail(int err, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(g_error, sizeof g_error, fmt, ap);
    va_end(ap);
    errno = err;
    return -err;
}

// Descriptors of one simulated device as libusb 0.1 presents them.
struct UsbNode {
    struct usb_device dev;
    usb_config_descriptor config;
    usb_interface interfaces[2];
    usb_interface_descriptor alts[2];
    usb_endpoint_descriptor endpoints[2][2];
};

struct Bus {
    uint64_t generation = 0;
    usb_bus bus;
    std::vector<std::unique_ptr<UsbNode>> nodes;
};

// Buses of earlier generations are kept: a program may still hold their
// device pointers, which then simply fail to open.
std::vector<std::unique_ptr<Bus>> *g_buses =
    new std::vector<std::unique_ptr<Bus>>;
uint64_t g_busses_reported = 0;
uint64_t g_devices_reported = 0;

void fill_node(UsbNode &n, const Device &d, size_t index, usb_bus *bus)
{
    std::memset(&n, 0, sizeof n);
    const uint8_t devnum = host::address(index);
    std::snprintf(n.dev.filename, sizeof n.dev.filename, "%03u",
                  unsigned(devnum));
    n.dev.bus = bus;
    n.dev.devnum = devnum;
    const host::DeviceDescriptor hd = host::device_descriptor(d);
    host::fill_device(hd, n.dev.descriptor);
    const host::ConfigDescriptor hc = host::config_descriptor(d);
    host::fill_config(hc, n.config, n.interfaces, n.alts, n.endpoints);
    n.dev.config = &n.config;
}

// The bus of the current generation, built on first sight.
Bus &current_bus(World &w, bool *rebuilt = nullptr)
{
    if (rebuilt)
        *rebuilt = false;
    if (!g_buses->empty() && g_buses->back()->generation == w.generation())
        return *g_buses->back();
    auto b = std::make_unique<Bus>();
    b->generation = w.generation();
    std::memset(&b->bus, 0, sizeof b->bus);
    std::snprintf(b->bus.dirname, sizeof b->bus.dirname, "001");
    b->bus.location = 1;
    struct usb_device *prev = nullptr;
    for (size_t i = 0; i < w.devices().size(); ++i) {
        auto node = std::make_unique<UsbNode>();
        fill_node(*node, w.devices()[i], i, &b->bus);
        node->dev.prev = prev;
        if (prev)
            prev->next = &node->dev;
        else
            b->bus.devices = &node->dev;
        prev = &node->dev;
        b->nodes.push_back(std::move(node));
    }
    g_buses->push_back(std::move(b));
    if (rebuilt)
        *rebuilt = true;
    return *g_buses->back();
}

// Sets errno and the message from a negative errno, or passes r through.
int result(int r, const char *what)
{
    if (r >= 0)
        return r;
    return fail(-r, "tapsim: %s: %s", what, std::strerror(-r));
}

template <typename F> int locked(const char *what, F &&body)
{
    return result(host::guarded([&] {
                      auto guard = World::lock();
                      return body(World::get());
                  }),
                  what);
}

// locked() for a call on a handle; a null handle is refused.
template <typename F>
int on_handle(usb_dev_handle *dev, const char *what, F &&body)
{
    if (!dev)
        return fail(EINVAL, "tapsim: %s: null handle", what);
    return locked(what, [&](World &w) { return body(w, dev->handle); });
}

} // namespace

extern "C" {

void usb_init(void)
{
    auto guard = World::lock();
    World::get();
}

void usb_set_debug(int) {}

int usb_find_busses(void)
{
    return locked("find busses", [](World &w) {
        Bus &b = current_bus(w);
        usb_busses = &b.bus;
        if (g_busses_reported == w.generation())
            return 0;
        g_busses_reported = w.generation();
        return 1;
    });
}

int usb_find_devices(void)
{
    return locked("find devices", [](World &w) {
        Bus &b = current_bus(w);
        usb_busses = &b.bus;
        if (g_devices_reported == w.generation())
            return 0;
        g_devices_reported = w.generation();
        return static_cast<int>(b.nodes.size());
    });
}

struct usb_bus *usb_get_busses(void)
{
    auto guard = World::lock();
    try {
        usb_busses = &current_bus(World::get()).bus;
    } catch (...) {
        return nullptr;
    }
    return usb_busses;
}

struct usb_device *usb_device(usb_dev_handle *dev)
{
    return dev ? dev->device : nullptr;
}

usb_dev_handle *usb_open(struct usb_device *dev)
{
    auto guard = World::lock();
    World &w = World::get();
    int r = -ENODEV;
    try {
        Bus &b = current_bus(w);
        for (size_t i = 0; i < b.nodes.size(); ++i) {
            if (&b.nodes[i]->dev != dev)
                continue;
            auto h = std::make_unique<usb_dev_handle>();
            g_open->add(h.get());
            const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (fd < 0) {
                g_open->remove(h.get());
                fail(errno, "tapsim: no descriptor for the device handle: %s",
                     std::strerror(errno));
                return nullptr;
            }
            r = host::open(w, b.generation, i, h->handle);
            if (r < 0) {
                g_open->remove(h.get());
                ::close(fd);
                break;
            }
            h->fd = fd;
            h->bus = &b.bus;
            h->device = dev;
            h->config = h->interface = h->altsetting = -1;
            return h.release();
        }
    } catch (...) {
        r = -ENOMEM;
    }
    result(r, "no such device");
    return nullptr;
}

int usb_close(usb_dev_handle *dev)
{
    if (!dev)
        return fail(EINVAL, "tapsim: null handle");
    {
        auto guard = World::lock();
        host::close(World::get(), dev->handle);
    }
    ::close(dev->fd);
    g_open->remove(dev);
    delete dev;
    return 0;
}

int usb_claim_interface(usb_dev_handle *dev, int interface)
{
    return on_handle(dev, "claim interface", [&](World &w, host::Handle &h) {
        const int r = host::claim(w, h, interface);
        if (r == 0)
            dev->interface = interface;
        return r;
    });
}

int usb_release_interface(usb_dev_handle *dev, int interface)
{
    return on_handle(dev, "release interface", [&](World &w, host::Handle &h) {
        return host::release(w, h, interface);
    });
}

int usb_set_configuration(usb_dev_handle *dev, int configuration)
{
    return on_handle(dev, "set configuration", [&](World &w, host::Handle &h) {
        const int r = host::set_configuration(w, h, configuration);
        if (r == 0)
            dev->config = configuration;
        return r;
    });
}

int usb_set_altinterface(usb_dev_handle *dev, int alternate)
{
    return on_handle(dev, "set alternate setting",
                     [&](World &w, host::Handle &h) {
                         const int r = host::set_altsetting(w, h, alternate);
                         if (r == 0)
                             dev->altsetting = alternate;
                         return r;
                     });
}

int usb_resetep(usb_dev_handle *dev, unsigned int)
{
    return on_handle(
        dev, "reset endpoint",
        [&](World &w, const host::Handle &h) { return host::check(w, h); });
}

int usb_clear_halt(usb_dev_handle *dev, unsigned int)
{
    return on_handle(dev, "clear halt", [&](World &w, const host::Handle &h) {
        return host::check(w, h);
    });
}

int usb_reset(usb_dev_handle *dev)
{
    return on_handle(dev, "reset", [&](World &w, const host::Handle &h) {
        return host::check(w, h);
    });
}

// As on a machine where no serial driver grabbed the chip.
int usb_get_driver_np(usb_dev_handle *dev, int, char *, unsigned int)
{
    return on_handle(dev, "get driver", [&](World &w, const host::Handle &h) {
        const int r = host::check(w, h);
        return r < 0 ? r : -ENODATA;
    });
}

int usb_detach_kernel_driver_np(usb_dev_handle *dev, int)
{
    return on_handle(dev, "detach kernel driver",
                     [&](World &w, const host::Handle &h) {
                         const int r = host::check(w, h);
                         return r < 0 ? r : -ENODATA;
                     });
}

int usb_control_msg(usb_dev_handle *dev, int requesttype, int request,
                    int value, int index, char *bytes, int size, int)
{
    return on_handle(dev, "control request", [&](World &w, host::Handle &h) {
        return host::control(w, h, static_cast<uint8_t>(requesttype),
                             static_cast<uint8_t>(request),
                             static_cast<uint16_t>(value),
                             static_cast<uint16_t>(index),
                             reinterpret_cast<uint8_t *>(bytes), size);
    });
}

int usb_bulk_write(usb_dev_handle *dev, int ep, const char *bytes, int size,
                   int)
{
    return on_handle(dev, "bulk write", [&](World &w, host::Handle &h) {
        return host::bulk_write(w, h, static_cast<unsigned>(ep),
                                reinterpret_cast<const uint8_t *>(bytes), size);
    });
}

int usb_bulk_read(usb_dev_handle *dev, int ep, char *bytes, int size, int)
{
    return on_handle(dev, "bulk read", [&](World &w, host::Handle &h) {
        return host::bulk_read(w, h, static_cast<unsigned>(ep),
                               reinterpret_cast<uint8_t *>(bytes), size);
    });
}

int usb_interrupt_write(usb_dev_handle *, int ep, const char *, int, int)
{
    return fail(EPIPE, "tapsim: no interrupt endpoint 0x%02x", ep);
}

int usb_interrupt_read(usb_dev_handle *, int ep, char *, int, int)
{
    return fail(EPIPE, "tapsim: no interrupt endpoint 0x%02x", ep);
}

int usb_get_string(usb_dev_handle *dev, int index, int, char *buf,
                   size_t buflen)
{
    return on_handle(dev, "get string", [&](World &w, host::Handle &h) {
        const Device *d = host::device_of(w, h);
        if (!d)
            return -ENODEV;
        return host::string_descriptor(
            *d, index, reinterpret_cast<uint8_t *>(buf), buflen);
    });
}

int usb_get_string_simple(usb_dev_handle *dev, int index, char *buf,
                          size_t buflen)
{
    return on_handle(dev, "get string", [&](World &w, host::Handle &h) {
        const Device *d = host::device_of(w, h);
        if (!d)
            return -ENODEV;
        const char *s = host::string(*d, index);
        if (!s)
            return -EPIPE;
        if (buflen == 0)
            return -EINVAL;
        size_t n = std::strlen(s);
        if (n > buflen - 1)
            n = buflen - 1;
        std::memcpy(buf, s, n);
        buf[n] = '\0';
        return static_cast<int>(n);
    });
}

int usb_get_descriptor(usb_dev_handle *dev, unsigned char type,
                       unsigned char index, void *buf, int size)
{
    return on_handle(dev, "get descriptor", [&](World &w, host::Handle &h) {
        const Device *d = host::device_of(w, h);
        if (!d)
            return -ENODEV;
        if (type != USB_DT_DEVICE || index != 0 || size < 0)
            return -EPIPE; // only the device descriptor is provided
        uint8_t raw[host::kDeviceSize];
        const size_t len = host::raw_device_descriptor(*d, raw);
        const size_t n =
            static_cast<size_t>(size) < len ? static_cast<size_t>(size) : len;
        std::memcpy(buf, raw, n);
        return static_cast<int>(n);
    });
}

int usb_get_descriptor_by_endpoint(usb_dev_handle *dev, int, unsigned char type,
                                   unsigned char index, void *buf, int size)
{
    return usb_get_descriptor(dev, type, index, buf, size);
}

char *usb_strerror(void)
{
    return g_error;
}

} // extern "C"
