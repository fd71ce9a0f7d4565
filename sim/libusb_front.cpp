// The libusb 0.1 API over the simulated bench, for libftdi to call.
// Errors follow libusb 0.1 on Linux: a negative errno, errno set, and a
// message for usb_strerror().

#include <usb.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "world.h"

using tapsim::Device;
using tapsim::World;

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
    uint64_t generation;
    size_t index;
    uint8_t claimed;
};

// Declared by usb.h outside its extern "C" block; global variables are
// not mangled, so this is the C symbol all the same.
struct usb_bus *usb_busses = nullptr;

namespace {

char g_error[256] = "no error";

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

void fill_node(UsbNode &n, const Device &d, uint8_t devnum, usb_bus *bus)
{
    std::memset(&n, 0, sizeof n);
    std::snprintf(n.dev.filename, sizeof n.dev.filename, "%03u",
                  unsigned(devnum));
    n.dev.bus = bus;
    n.dev.devnum = devnum;
    usb_device_descriptor &dd = n.dev.descriptor;
    dd.bLength = USB_DT_DEVICE_SIZE;
    dd.bDescriptorType = USB_DT_DEVICE;
    dd.bcdUSB = 0x0200;
    dd.bMaxPacketSize0 = d.info.packet_size >= 512 ? 64 : 8;
    dd.idVendor = d.info.vid;
    dd.idProduct = d.info.pid;
    dd.bcdDevice = d.info.bcd_device;
    dd.iManufacturer = 1;
    dd.iProduct = 2;
    dd.iSerialNumber = 3;
    dd.bNumConfigurations = 1;

    n.config.bLength = USB_DT_CONFIG_SIZE;
    n.config.bDescriptorType = USB_DT_CONFIG;
    n.config.wTotalLength = USB_DT_CONFIG_SIZE + 2 * (USB_DT_INTERFACE_SIZE +
                                                      2 * USB_DT_ENDPOINT_SIZE);
    n.config.bNumInterfaces = 2;
    n.config.bConfigurationValue = 1;
    n.config.bmAttributes = 0x80;
    n.config.MaxPower = 45; // 90 mA
    n.config.interface = n.interfaces;
    for (int i = 0; i < 2; ++i) {
        n.interfaces[i].altsetting = &n.alts[i];
        n.interfaces[i].num_altsetting = 1;
        usb_interface_descriptor &a = n.alts[i];
        a.bLength = USB_DT_INTERFACE_SIZE;
        a.bDescriptorType = USB_DT_INTERFACE;
        a.bInterfaceNumber = static_cast<uint8_t>(i);
        a.bNumEndpoints = 2;
        a.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
        a.bInterfaceSubClass = 0xFF;
        a.bInterfaceProtocol = 0xFF;
        a.iInterface = 2;
        a.endpoint = n.endpoints[i];
        // Channel A: IN 0x81, OUT 0x02; channel B: IN 0x83, OUT 0x04.
        const uint8_t addr[2] = {static_cast<uint8_t>(0x81 + 2 * i),
                                 static_cast<uint8_t>(0x02 + 2 * i)};
        for (int e = 0; e < 2; ++e) {
            usb_endpoint_descriptor &ep = n.endpoints[i][e];
            ep.bLength = USB_DT_ENDPOINT_SIZE;
            ep.bDescriptorType = USB_DT_ENDPOINT;
            ep.bEndpointAddress = addr[e];
            ep.bmAttributes = USB_ENDPOINT_TYPE_BULK;
            ep.wMaxPacketSize = d.info.packet_size;
        }
    }
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
        fill_node(*node, w.devices()[i], static_cast<uint8_t>(i + 2), &b->bus);
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

// The device behind a live handle, or null (after tapsim::reset()).
Device *device_of(World &w, usb_dev_handle *h)
{
    if (!h || h->generation != w.generation() || h->index >= w.devices().size())
        return nullptr;
    return &w.devices()[h->index];
}

template <typename F> int guarded(F &&body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return fail(ENOMEM, "tapsim: out of memory");
    } catch (...) {
        return fail(EIO, "tapsim: internal error");
    }
}

const char *string_of(const Device &d, int index)
{
    static char serial[16];
    switch (index) {
    case 1:
        return d.adapter ? "Tapline" : "FTDI";
    case 2:
        return d.adapter ? "Tapline JTAG adapter" : "Dual RS232";
    case 3:
        std::snprintf(serial, sizeof serial, "%s%04X%04X",
                      d.adapter ? "TL" : "FT", d.info.vid, d.info.pid);
        return serial;
    default:
        return nullptr;
    }
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
    return guarded([] {
        auto guard = World::lock();
        World &w = World::get();
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
    return guarded([] {
        auto guard = World::lock();
        World &w = World::get();
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
    try {
        Bus &b = current_bus(w);
        for (size_t i = 0; i < b.nodes.size(); ++i) {
            if (&b.nodes[i]->dev != dev)
                continue;
            const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (fd < 0) {
                fail(errno, "tapsim: no descriptor for the device handle: %s",
                     std::strerror(errno));
                return nullptr;
            }
            usb_dev_handle *h = new usb_dev_handle();
            h->fd = fd;
            h->bus = &b.bus;
            h->device = dev;
            h->config = h->interface = h->altsetting = -1;
            h->generation = w.generation();
            h->index = i;
            w.record().devices[i].opened++;
            return h;
        }
    } catch (...) {
    }
    fail(ENODEV, "tapsim: no such device");
    return nullptr;
}

int usb_close(usb_dev_handle *dev)
{
    if (!dev)
        return fail(EINVAL, "tapsim: null handle");
    auto guard = World::lock();
    World &w = World::get();
    if (Device *d = device_of(w, dev)) {
        d->claimed = static_cast<uint8_t>(d->claimed & ~dev->claimed);
        w.record().devices[dev->index].closed++;
    }
    ::close(dev->fd);
    delete dev;
    return 0;
}

int usb_claim_interface(usb_dev_handle *dev, int interface)
{
    auto guard = World::lock();
    Device *d = device_of(World::get(), dev);
    if (!d)
        return fail(ENODEV, "tapsim: device is gone");
    if (interface < 0 || interface > 1)
        return fail(EINVAL, "tapsim: no interface %d", interface);
    const uint8_t bit = static_cast<uint8_t>(1u << interface);
    if ((d->claimed & bit) && !(dev->claimed & bit))
        return fail(EBUSY,
                    "tapsim: interface %d claimed through another handle",
                    interface);
    d->claimed |= bit;
    dev->claimed |= bit;
    dev->interface = interface;
    return 0;
}

int usb_release_interface(usb_dev_handle *dev, int interface)
{
    auto guard = World::lock();
    Device *d = device_of(World::get(), dev);
    if (!d)
        return fail(ENODEV, "tapsim: device is gone");
    if (interface < 0 || interface > 1 || !(dev->claimed & (1u << interface)))
        return fail(EINVAL, "tapsim: interface %d not claimed", interface);
    const uint8_t bit = static_cast<uint8_t>(1u << interface);
    d->claimed = static_cast<uint8_t>(d->claimed & ~bit);
    dev->claimed = static_cast<uint8_t>(dev->claimed & ~bit);
    return 0;
}

int usb_set_configuration(usb_dev_handle *dev, int configuration)
{
    auto guard = World::lock();
    if (!device_of(World::get(), dev))
        return fail(ENODEV, "tapsim: device is gone");
    if (configuration != 1)
        return fail(EINVAL, "tapsim: no configuration %d", configuration);
    dev->config = configuration;
    return 0;
}

int usb_set_altinterface(usb_dev_handle *dev, int alternate)
{
    auto guard = World::lock();
    if (!device_of(World::get(), dev))
        return fail(ENODEV, "tapsim: device is gone");
    if (alternate != 0)
        return fail(EINVAL, "tapsim: no alternate setting %d", alternate);
    dev->altsetting = alternate;
    return 0;
}

int usb_resetep(usb_dev_handle *dev, unsigned int)
{
    auto guard = World::lock();
    return device_of(World::get(), dev)
               ? 0
               : fail(ENODEV, "tapsim: device is gone");
}

int usb_clear_halt(usb_dev_handle *dev, unsigned int)
{
    auto guard = World::lock();
    return device_of(World::get(), dev)
               ? 0
               : fail(ENODEV, "tapsim: device is gone");
}

int usb_reset(usb_dev_handle *dev)
{
    auto guard = World::lock();
    return device_of(World::get(), dev)
               ? 0
               : fail(ENODEV, "tapsim: device is gone");
}

int usb_get_driver_np(usb_dev_handle *dev, int, char *, unsigned int)
{
    auto guard = World::lock();
    if (!device_of(World::get(), dev))
        return fail(ENODEV, "tapsim: device is gone");
    return fail(ENODATA, "tapsim: no kernel driver bound");
}

int usb_detach_kernel_driver_np(usb_dev_handle *dev, int)
{
    auto guard = World::lock();
    if (!device_of(World::get(), dev))
        return fail(ENODEV, "tapsim: device is gone");
    // As on a machine where no serial driver grabbed the chip.
    return fail(ENODATA, "tapsim: no kernel driver bound");
}

int usb_control_msg(usb_dev_handle *dev, int requesttype, int request,
                    int value, int index, char *bytes, int size, int)
{
    return guarded([&] {
        auto guard = World::lock();
        Device *d = device_of(World::get(), dev);
        if (!d)
            return fail(ENODEV, "tapsim: device is gone");
        if (size < 0 || size > 0xFFFF)
            return fail(EINVAL, "tapsim: bad control length %d", size);
        const int r = d->chip->control(
            static_cast<uint8_t>(requesttype), static_cast<uint8_t>(request),
            static_cast<uint16_t>(value), static_cast<uint16_t>(index),
            reinterpret_cast<uint8_t *>(bytes), static_cast<uint16_t>(size));
        return r < 0
                   ? fail(-r, "tapsim: control request 0x%02x failed", request)
                   : r;
    });
}

int usb_bulk_write(usb_dev_handle *dev, int ep, const char *bytes, int size,
                   int)
{
    return guarded([&] {
        auto guard = World::lock();
        Device *d = device_of(World::get(), dev);
        if (!d)
            return fail(ENODEV, "tapsim: device is gone");
        if (ep != 0x02 && ep != 0x04)
            return fail(EINVAL, "tapsim: no OUT endpoint 0x%02x", ep);
        if (size < 0 || (size > 0 && !bytes))
            return fail(EINVAL, "tapsim: bad bulk buffer");
        const int r = d->chip->bulk_write(
            ep == 0x02 ? 0 : 1, reinterpret_cast<const uint8_t *>(bytes),
            static_cast<size_t>(size));
        return r < 0 ? fail(-r, "tapsim: bulk write failed (injected)") : r;
    });
}

int usb_bulk_read(usb_dev_handle *dev, int ep, char *bytes, int size, int)
{
    return guarded([&] {
        auto guard = World::lock();
        Device *d = device_of(World::get(), dev);
        if (!d)
            return fail(ENODEV, "tapsim: device is gone");
        if (ep != 0x81 && ep != 0x83)
            return fail(EINVAL, "tapsim: no IN endpoint 0x%02x", ep);
        if (size < 0 || (size > 0 && !bytes))
            return fail(EINVAL, "tapsim: bad bulk buffer");
        const int r = d->chip->bulk_read(ep == 0x81 ? 0 : 1,
                                         reinterpret_cast<uint8_t *>(bytes),
                                         static_cast<size_t>(size));
        return r < 0 ? fail(-r, "tapsim: bulk read failed (injected)") : r;
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
    auto guard = World::lock();
    Device *d = device_of(World::get(), dev);
    if (!d)
        return fail(ENODEV, "tapsim: device is gone");
    uint8_t desc[256];
    size_t len;
    if (index == 0) {
        const uint8_t langs[4] = {4, USB_DT_STRING, 0x09, 0x04}; // English (US)
        std::memcpy(desc, langs, sizeof langs);
        len = sizeof langs;
    } else {
        const char *s = string_of(*d, index);
        if (!s)
            return fail(EPIPE, "tapsim: no string %d", index);
        len = 2;
        for (; *s && len + 2 <= sizeof desc; ++s) {
            desc[len++] = static_cast<uint8_t>(*s); // UTF-16LE, ASCII only
            desc[len++] = 0;
        }
        desc[0] = static_cast<uint8_t>(len);
        desc[1] = USB_DT_STRING;
    }
    const size_t n = len < buflen ? len : buflen;
    std::memcpy(buf, desc, n);
    return static_cast<int>(n);
}

int usb_get_string_simple(usb_dev_handle *dev, int index, char *buf,
                          size_t buflen)
{
    auto guard = World::lock();
    Device *d = device_of(World::get(), dev);
    if (!d)
        return fail(ENODEV, "tapsim: device is gone");
    const char *s = string_of(*d, index);
    if (!s)
        return fail(EPIPE, "tapsim: no string %d", index);
    if (buflen == 0)
        return fail(EINVAL, "tapsim: no room for string");
    size_t n = std::strlen(s);
    if (n > buflen - 1)
        n = buflen - 1;
    std::memcpy(buf, s, n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

int usb_get_descriptor(usb_dev_handle *dev, unsigned char type,
                       unsigned char index, void *buf, int size)
{
    auto guard = World::lock();
    Device *d = device_of(World::get(), dev);
    if (!d)
        return fail(ENODEV, "tapsim: device is gone");
    if (type != USB_DT_DEVICE || index != 0 || size < 0)
        return fail(EPIPE, "tapsim: descriptor 0x%02x/%u not provided", type,
                    index);
    // Wire format, little endian, assembled byte by byte.
    const usb_device_descriptor &dd = dev->device->descriptor;
    const uint8_t raw[USB_DT_DEVICE_SIZE] = {
        dd.bLength,
        dd.bDescriptorType,
        static_cast<uint8_t>(dd.bcdUSB & 0xFF),
        static_cast<uint8_t>(dd.bcdUSB >> 8),
        dd.bDeviceClass,
        dd.bDeviceSubClass,
        dd.bDeviceProtocol,
        dd.bMaxPacketSize0,
        static_cast<uint8_t>(dd.idVendor & 0xFF),
        static_cast<uint8_t>(dd.idVendor >> 8),
        static_cast<uint8_t>(dd.idProduct & 0xFF),
        static_cast<uint8_t>(dd.idProduct >> 8),
        static_cast<uint8_t>(dd.bcdDevice & 0xFF),
        static_cast<uint8_t>(dd.bcdDevice >> 8),
        dd.iManufacturer,
        dd.iProduct,
        dd.iSerialNumber,
        dd.bNumConfigurations,
    };
    const int n = size < USB_DT_DEVICE_SIZE ? size : USB_DT_DEVICE_SIZE;
    std::memcpy(buf, raw, static_cast<size_t>(n));
    return n;
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
