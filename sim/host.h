// The USB host side of the bench, shared by the libusb fronts: the devices
// the bus shows and their descriptors, handles bound to one bench
// generation, interface claims, endpoint-to-channel mapping and open/close
// counting. A front only converts types and error codes, so the record is
// the same whichever front ran. Its queue of asynchronous transfers is in
// transfers.h. Errors are negative errno values. Call everything with
// World::lock() held.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>

#include "world.h"

namespace tapsim {
namespace host {

constexpr int kInterfaces = 2;
constexpr int kEndpointsPerInterface = 2;
constexpr uint8_t kConfigurationValue = 1;
constexpr uint8_t kBusNumber = 1;

// Standard descriptor types and sizes (USB 2.0, chapter 9).
constexpr uint8_t kDtDevice = 0x01;
constexpr uint8_t kDtConfig = 0x02;
constexpr uint8_t kDtString = 0x03;
constexpr uint8_t kDtInterface = 0x04;
constexpr uint8_t kDtEndpoint = 0x05;
constexpr uint8_t kDeviceSize = 18;
constexpr uint8_t kConfigSize = 9;
constexpr uint8_t kInterfaceSize = 9;
constexpr uint8_t kEndpointSize = 7;
constexpr uint8_t kClassVendor = 0xFF;
constexpr uint8_t kEndpointBulk = 0x02;

struct DeviceDescriptor {
    uint16_t bcd_usb = 0x0200;
    uint8_t max_packet0 = 8;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcd_device = 0;
    uint8_t i_manufacturer = 1;
    uint8_t i_product = 2;
    uint8_t i_serial = 3;
    uint8_t num_configurations = 1;
};

struct EndpointDescriptor {
    uint8_t address = 0;
    uint8_t attributes = kEndpointBulk;
    uint16_t max_packet = 0;
};

struct InterfaceDescriptor {
    uint8_t number = 0;
    uint8_t i_interface = 2;
    EndpointDescriptor endpoints[kEndpointsPerInterface];
};

struct ConfigDescriptor {
    uint16_t total_length = 0;
    uint8_t attributes = 0x80; // bus powered
    uint8_t max_power = 45;    // 2 mA units: 90 mA
    InterfaceDescriptor interfaces[kInterfaces];
};

// The descriptors in a front's own libusb types: libusb 0.1 and 1.0 name
// the fields alike, so one filler serves both fronts.
template <typename Desc> void fill_device(const DeviceDescriptor &hd, Desc &dd)
{
    dd.bLength = kDeviceSize;
    dd.bDescriptorType = kDtDevice;
    dd.bcdUSB = hd.bcd_usb;
    dd.bMaxPacketSize0 = hd.max_packet0;
    dd.idVendor = hd.vid;
    dd.idProduct = hd.pid;
    dd.bcdDevice = hd.bcd_device;
    dd.iManufacturer = hd.i_manufacturer;
    dd.iProduct = hd.i_product;
    dd.iSerialNumber = hd.i_serial;
    dd.bNumConfigurations = hd.num_configurations;
}

// The configuration with its interfaces and endpoints, in arrays the
// caller keeps alive beside it.
template <typename Config, typename Interface, typename Alt, typename Endpoint>
void fill_config(const ConfigDescriptor &hc, Config &c, Interface *interfaces,
                 Alt *alts, Endpoint (*endpoints)[kEndpointsPerInterface])
{
    c.bLength = kConfigSize;
    c.bDescriptorType = kDtConfig;
    c.wTotalLength = hc.total_length;
    c.bNumInterfaces = kInterfaces;
    c.bConfigurationValue = kConfigurationValue;
    c.bmAttributes = hc.attributes;
    c.MaxPower = hc.max_power;
    c.interface = interfaces;
    for (int i = 0; i < kInterfaces; ++i) {
        const InterfaceDescriptor &hi = hc.interfaces[i];
        interfaces[i].altsetting = &alts[i];
        interfaces[i].num_altsetting = 1;
        Alt &a = alts[i];
        a.bLength = kInterfaceSize;
        a.bDescriptorType = kDtInterface;
        a.bInterfaceNumber = hi.number;
        a.bNumEndpoints = kEndpointsPerInterface;
        a.bInterfaceClass = kClassVendor;
        a.bInterfaceSubClass = kClassVendor;
        a.bInterfaceProtocol = kClassVendor;
        a.iInterface = hi.i_interface;
        a.endpoint = endpoints[i];
        for (int e = 0; e < kEndpointsPerInterface; ++e) {
            Endpoint &ep = endpoints[i][e];
            ep.bLength = kEndpointSize;
            ep.bDescriptorType = kDtEndpoint;
            ep.bEndpointAddress = hi.endpoints[e].address;
            ep.bmAttributes = hi.endpoints[e].attributes;
            ep.wMaxPacketSize = hi.endpoints[e].max_packet;
        }
    }
}

// What a device shows the host; the same in every generation.
DeviceDescriptor device_descriptor(const Device &d);
ConfigDescriptor config_descriptor(const Device &d);
// USB device address of the i-th device on the bus.
uint8_t address(size_t index);
// The root hub port the i-th device is plugged into: one port each, in
// bus order, no hubs between.
uint8_t port(size_t index);
enum class Speed { Full, High };
Speed speed(const Device &d);
// The device descriptor in wire format (little endian); returns its size.
size_t raw_device_descriptor(const Device &d, uint8_t (&out)[kDeviceSize]);
// String descriptor index as ASCII, or null when there is none.
const char *string(const Device &d, int index);
// String descriptor index in wire format (index 0: the language table),
// cut to cap bytes; returns the length or -EPIPE (the device stalls).
int string_descriptor(const Device &d, int index, uint8_t *out, size_t cap);

// One open of one device, valid for the generation it was opened in.
struct Handle {
    uint64_t generation = 0;
    size_t index = 0;
    uint8_t claimed = 0;    // interface bits claimed through this handle
    int configuration = -1; // set through this handle; -1 none
    int altsetting = -1;
};

// Opens device index of bench generation; -ENODEV if that bus is gone.
int open(World &w, uint64_t generation, size_t index, Handle &h);
// Drops the handle's claims and counts the close, if the device is live.
void close(World &w, Handle &h);
// The device behind a live handle, or null (after tapsim::reset()).
Device *device_of(World &w, const Handle &h);
// 0 while the handle's device is live, else -ENODEV.
int check(World &w, const Handle &h);

int claim(World &w, Handle &h, int interface);
int release(World &w, Handle &h, int interface);
int set_configuration(World &w, Handle &h, int configuration);
int set_altsetting(World &w, Handle &h, int altsetting);
// The same for one interface, which h must have claimed (-ENOENT if not).
int set_interface_altsetting(World &w, Handle &h, int interface,
                             int altsetting);
// Clears a halt on one of the device's endpoints; the chip never halts one.
int clear_halt(World &w, const Handle &h, unsigned endpoint);
// A port reset. The chip model does not notice it: its buffers and bit
// mode stay as they were.
int reset_port(World &w, const Handle &h);

// Transfers on the chip; return its result or a negative errno. length
// must fit the transfer (0..65535 for control requests).
int control(World &w, const Handle &h, uint8_t request_type, uint8_t request,
            uint16_t value, uint16_t index, uint8_t *data, int length);
int bulk_write(World &w, const Handle &h, unsigned endpoint,
               const uint8_t *data, int length,
               WriteOutcome *outcome = nullptr);
int bulk_read(World &w, const Handle &h, unsigned endpoint, uint8_t *data,
              int length);

// Runs body, turning an escaping exception into a negative errno: none
// may cross into the C library on top.
template <typename F> int guarded(F &&body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

} // namespace host
} // namespace tapsim
