#include "host.h"

#include <cstdio>
#include <cstring>

namespace tapsim {
namespace host {
namespace {

// Channel A: IN 0x81, OUT 0x02; channel B: IN 0x83, OUT 0x04.
constexpr uint8_t in_endpoint(int interface)
{
    return static_cast<uint8_t>(0x81 + 2 * interface);
}
constexpr uint8_t out_endpoint(int interface)
{
    return static_cast<uint8_t>(0x02 + 2 * interface);
}

// The channel behind a bulk endpoint of the given direction, or -1.
int channel_of(unsigned endpoint, bool in)
{
    for (int i = 0; i < kInterfaces; ++i)
        if (endpoint == (in ? in_endpoint(i) : out_endpoint(i)))
            return i;
    return -1;
}

} // namespace

DeviceDescriptor device_descriptor(const Device &d)
{
    DeviceDescriptor dd;
    dd.max_packet0 = d.info.packet_size >= 512 ? 64 : 8;
    dd.vid = d.info.vid;
    dd.pid = d.info.pid;
    dd.bcd_device = d.info.bcd_device;
    return dd;
}

ConfigDescriptor config_descriptor(const Device &d)
{
    ConfigDescriptor c;
    c.total_length =
        kConfigSize +
        kInterfaces * (kInterfaceSize + kEndpointsPerInterface * kEndpointSize);
    for (int i = 0; i < kInterfaces; ++i) {
        InterfaceDescriptor &a = c.interfaces[i];
        a.number = static_cast<uint8_t>(i);
        a.endpoints[0].address = in_endpoint(i);
        a.endpoints[1].address = out_endpoint(i);
        for (EndpointDescriptor &ep : a.endpoints)
            ep.max_packet = d.info.packet_size;
    }
    return c;
}

uint8_t address(size_t index)
{
    return static_cast<uint8_t>(index + 2); // address 1: the root hub
}

uint8_t port(size_t index)
{
    return static_cast<uint8_t>(index + 1);
}

Speed speed(const Device &d)
{
    return d.info.high_speed ? Speed::High : Speed::Full;
}

size_t raw_device_descriptor(const Device &d, uint8_t (&out)[kDeviceSize])
{
    const DeviceDescriptor dd = device_descriptor(d);
    const uint8_t raw[kDeviceSize] = {
        kDeviceSize,
        kDtDevice,
        static_cast<uint8_t>(dd.bcd_usb & 0xFF),
        static_cast<uint8_t>(dd.bcd_usb >> 8),
        0, // class, subclass, protocol: per interface
        0,
        0,
        dd.max_packet0,
        static_cast<uint8_t>(dd.vid & 0xFF),
        static_cast<uint8_t>(dd.vid >> 8),
        static_cast<uint8_t>(dd.pid & 0xFF),
        static_cast<uint8_t>(dd.pid >> 8),
        static_cast<uint8_t>(dd.bcd_device & 0xFF),
        static_cast<uint8_t>(dd.bcd_device >> 8),
        dd.i_manufacturer,
        dd.i_product,
        dd.i_serial,
        dd.num_configurations,
    };
    std::memcpy(out, raw, sizeof raw);
    return sizeof raw;
}

const char *string(const Device &d, int index)
{
    static char serial[16];
    if (d.chip && d.chip->strings_stall())
        return nullptr; // the device stalls the request
    switch (index) {
    case 1:
        return d.adapter ? "Tapline" : "FTDI";
    case 2:
        return d.adapter ? "Tapline JTAG adapter" : "Dual RS232";
    case 3:
        if (!d.serial.empty())
            return d.serial.c_str();
        std::snprintf(serial, sizeof serial, "%s%04X%04X",
                      d.adapter ? "TL" : "FT", d.info.vid, d.info.pid);
        return serial;
    default:
        return nullptr;
    }
}

int string_descriptor(const Device &d, int index, uint8_t *out, size_t cap)
{
    uint8_t desc[256];
    size_t len;
    if (index == 0) {
        const uint8_t langs[4] = {4, kDtString, 0x09, 0x04}; // English (US)
        std::memcpy(desc, langs, sizeof langs);
        len = sizeof langs;
    } else {
        const char *s = string(d, index);
        if (!s)
            return -EPIPE;
        len = 2;
        for (; *s && len + 2 <= sizeof desc; ++s) {
            desc[len++] = static_cast<uint8_t>(*s); // UTF-16LE, ASCII only
            desc[len++] = 0;
        }
        desc[0] = static_cast<uint8_t>(len);
        desc[1] = kDtString;
    }
    const size_t n = len < cap ? len : cap;
    std::memcpy(out, desc, n);
    return static_cast<int>(n);
}

int open(World &w, uint64_t generation, size_t index, Handle &h)
{
    if (generation != w.generation() || index >= w.devices().size())
        return -ENODEV;
    h = Handle();
    h.generation = generation;
    h.index = index;
    w.record().devices[index].opened++;
    return 0;
}

void close(World &w, Handle &h)
{
    if (Device *d = device_of(w, h)) {
        d->claimed = static_cast<uint8_t>(d->claimed & ~h.claimed);
        if (h.claimed && !d->claimed)
            w.drop_claim(h.index);
        w.record().devices[h.index].closed++;
    }
    h.claimed = 0;
}

Device *device_of(World &w, const Handle &h)
{
    if (h.generation != w.generation() || h.index >= w.devices().size())
        return nullptr;
    return &w.devices()[h.index];
}

int check(World &w, const Handle &h)
{
    return device_of(w, h) ? 0 : -ENODEV;
}

int claim(World &w, Handle &h, int interface)
{
    Device *d = device_of(w, h);
    if (!d)
        return -ENODEV;
    if (interface < 0 || interface >= kInterfaces)
        return -EINVAL;
    const uint8_t bit = static_cast<uint8_t>(1u << interface);
    if ((d->claimed & bit) && !(h.claimed & bit))
        return -EBUSY; // claimed through another handle
    if (!d->claimed) {
        // Another process may hold the adapter (TAPSIM_STATE).
        const int r = w.take_claim(h.index);
        if (r < 0)
            return r;
    }
    d->claimed |= bit;
    h.claimed |= bit;
    return 0;
}

int release(World &w, Handle &h, int interface)
{
    Device *d = device_of(w, h);
    if (!d)
        return -ENODEV;
    if (interface < 0 || interface >= kInterfaces ||
        !(h.claimed & (1u << interface)))
        return -EINVAL;
    const uint8_t bit = static_cast<uint8_t>(1u << interface);
    d->claimed = static_cast<uint8_t>(d->claimed & ~bit);
    h.claimed = static_cast<uint8_t>(h.claimed & ~bit);
    if (!d->claimed)
        w.drop_claim(h.index);
    return 0;
}

int set_configuration(World &w, Handle &h, int configuration)
{
    if (!device_of(w, h))
        return -ENODEV;
    if (configuration != kConfigurationValue)
        return -EINVAL;
    h.configuration = configuration;
    return 0;
}

int set_altsetting(World &w, Handle &h, int altsetting)
{
    if (!device_of(w, h))
        return -ENODEV;
    if (altsetting != 0)
        return -EINVAL;
    h.altsetting = altsetting;
    return 0;
}

int set_interface_altsetting(World &w, Handle &h, int interface, int altsetting)
{
    if (!device_of(w, h))
        return -ENODEV;
    if (interface < 0 || interface >= kInterfaces ||
        !(h.claimed & (1u << interface)))
        return -ENOENT;
    return set_altsetting(w, h, altsetting);
}

int clear_halt(World &w, const Handle &h, unsigned endpoint)
{
    if (!device_of(w, h))
        return -ENODEV;
    return channel_of(endpoint, true) >= 0 || channel_of(endpoint, false) >= 0
               ? 0
               : -ENOENT;
}

int reset_port(World &w, const Handle &h)
{
    return check(w, h);
}

int control(World &w, const Handle &h, uint8_t request_type, uint8_t request,
            uint16_t value, uint16_t index, uint8_t *data, int length)
{
    Device *d = device_of(w, h);
    if (!d)
        return -ENODEV;
    if (length < 0 || length > 0xFFFF || (length > 0 && !data))
        return -EINVAL;
    return d->chip->control(request_type, request, value, index, data,
                            static_cast<uint16_t>(length));
}

int bulk_write(World &w, const Handle &h, unsigned endpoint,
               const uint8_t *data, int length, WriteOutcome *outcome)
{
    Device *d = device_of(w, h);
    if (!d)
        return -ENODEV;
    const int channel = channel_of(endpoint, false);
    if (channel < 0 || length < 0 || (length > 0 && !data))
        return -EINVAL;
    return d->chip->bulk_write(channel, data, static_cast<size_t>(length),
                               outcome);
}

int bulk_read(World &w, const Handle &h, unsigned endpoint, uint8_t *data,
              int length)
{
    Device *d = device_of(w, h);
    if (!d)
        return -ENODEV;
    const int channel = channel_of(endpoint, true);
    if (channel < 0 || length < 0 || (length > 0 && !data))
        return -EINVAL;
    return d->chip->bulk_read(channel, data, static_cast<size_t>(length));
}

} // namespace host
} // namespace tapsim
