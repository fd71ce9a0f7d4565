// The libusb-1.0 API over the simulated bench: the functions libftdi1
// and the programs preloaded over it import. Devices, handles and
// transfers are the host layer's (host.h); this file only gives them
// libusb-1.0's types and turns negative errno values into LIBUSB_ERROR_*
// codes. Asynchronous transfers and events: libusb1_events.cpp.

#include "libusb1_front.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "host.h"
#include "open_handles.h"
#include "world.h"

using tapsim::Device;
using tapsim::World;
using tapsim::front1::locked;
using tapsim::front1::on_handle;
namespace host = tapsim::host;

namespace {

// Never destroyed: the handles stay listed until the process is gone.
tapsim::OpenHandles<libusb_device_handle> *g_open =
    new tapsim::OpenHandles<libusb_device_handle>;

// A configuration descriptor in one allocation, as libusb hands it out.
struct ConfigBlock {
    libusb_config_descriptor config;
    libusb_interface interfaces[host::kInterfaces];
    libusb_interface_descriptor alts[host::kInterfaces];
    libusb_endpoint_descriptor endpoints[host::kInterfaces]
                                        [host::kEndpointsPerInterface];
};

void fill_config(ConfigBlock &b, const host::ConfigDescriptor &hc)
{
    std::memset(&b, 0, sizeof b);
    host::fill_config(hc, b.config, b.interfaces, b.alts, b.endpoints);
}

} // namespace

namespace tapsim {
namespace front1 {

int to_libusb(int r)
{
    if (r >= 0)
        return r;
    switch (-r) {
    case EIO:
        return LIBUSB_ERROR_IO;
    case EINVAL:
        return LIBUSB_ERROR_INVALID_PARAM;
    case EACCES:
    case EPERM:
        return LIBUSB_ERROR_ACCESS;
    case ENODEV:
    case ESHUTDOWN:
        return LIBUSB_ERROR_NO_DEVICE;
    case ENOENT:
    case ENODATA:
        return LIBUSB_ERROR_NOT_FOUND;
    case EBUSY:
        return LIBUSB_ERROR_BUSY;
    case ETIMEDOUT:
        return LIBUSB_ERROR_TIMEOUT;
    case EOVERFLOW:
        return LIBUSB_ERROR_OVERFLOW;
    case EPIPE:
        return LIBUSB_ERROR_PIPE;
    case EINTR:
        return LIBUSB_ERROR_INTERRUPTED;
    case ENOMEM:
        return LIBUSB_ERROR_NO_MEM;
    case ENOSYS:
    case EOPNOTSUPP:
        return LIBUSB_ERROR_NOT_SUPPORTED;
    default:
        return LIBUSB_ERROR_OTHER;
    }
}

} // namespace front1
} // namespace tapsim

extern "C" {

int libusb_init(libusb_context **ctx)
{
    return locked([&](World &) {
        // A null ctx asks for the default context, which needs no object.
        if (ctx)
            *ctx = new libusb_context();
        return 0;
    });
}

void libusb_exit(libusb_context *ctx)
{
    delete ctx;
}

ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    if (!list)
        return LIBUSB_ERROR_INVALID_PARAM;
    size_t count = 0;
    const int r = locked([&](World &w) {
        const std::vector<Device> &devices = w.devices();
        std::vector<std::unique_ptr<libusb_device>> made;
        for (size_t i = 0; i < devices.size(); ++i) {
            auto d = std::make_unique<libusb_device>();
            d->generation = w.generation();
            d->index = i;
            d->port = host::port(i);
            d->speed = host::speed(devices[i]);
            d->descriptor = host::device_descriptor(devices[i]);
            d->config = host::config_descriptor(devices[i]);
            made.push_back(std::move(d));
        }
        auto out = std::make_unique<libusb_device *[]>(made.size() + 1);
        for (size_t i = 0; i < made.size(); ++i)
            out[i] = made[i].release();
        out[made.size()] = nullptr;
        count = made.size();
        *list = out.release();
        return 0;
    });
    return r < 0 ? r : static_cast<ssize_t>(count);
}

libusb_device *libusb_ref_device(libusb_device *dev)
{
    auto guard = World::lock();
    ++dev->refs;
    return dev;
}

void libusb_unref_device(libusb_device *dev)
{
    if (!dev)
        return;
    auto guard = World::lock();
    if (--dev->refs == 0)
        delete dev;
}

void libusb_free_device_list(libusb_device **list, int unref_devices)
{
    if (!list)
        return;
    if (unref_devices)
        for (libusb_device **d = list; *d; ++d)
            libusb_unref_device(*d);
    delete[] list;
}

uint8_t libusb_get_bus_number(libusb_device *)
{
    return host::kBusNumber;
}

uint8_t libusb_get_device_address(libusb_device *dev)
{
    return host::address(dev->index);
}

uint8_t libusb_get_port_number(libusb_device *dev)
{
    return dev->port;
}

// No hub between the root and the device: the path is one port long.
int libusb_get_port_numbers(libusb_device *dev, uint8_t *port_numbers,
                            int port_numbers_len)
{
    if (port_numbers_len < 1)
        return LIBUSB_ERROR_OVERFLOW;
    port_numbers[0] = dev->port;
    return 1;
}

int libusb_get_device_speed(libusb_device *dev)
{
    return dev->speed == host::Speed::High ? LIBUSB_SPEED_HIGH
                                           : LIBUSB_SPEED_FULL;
}

int libusb_get_device_descriptor(libusb_device *dev,
                                 struct libusb_device_descriptor *desc)
{
    const host::DeviceDescriptor &hd = dev->descriptor;
    std::memset(desc, 0, sizeof *desc);
    host::fill_device(hd, *desc);
    return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device *dev, uint8_t config_index,
                                 struct libusb_config_descriptor **config)
{
    if (config_index >= dev->descriptor.num_configurations)
        return LIBUSB_ERROR_NOT_FOUND;
    ConfigBlock *b = new (std::nothrow) ConfigBlock;
    if (!b)
        return LIBUSB_ERROR_NO_MEM;
    fill_config(*b, dev->config);
    *config = &b->config;
    return LIBUSB_SUCCESS;
}

int libusb_get_active_config_descriptor(
    libusb_device *dev, struct libusb_config_descriptor **config)
{
    // The kernel configured the one configuration on enumeration.
    return libusb_get_config_descriptor(dev, 0, config);
}

void libusb_free_config_descriptor(struct libusb_config_descriptor *config)
{
    // config is the first member of the block it came in.
    delete reinterpret_cast<ConfigBlock *>(config);
}

int libusb_open(libusb_device *dev, libusb_device_handle **dev_handle)
{
    if (!dev || !dev_handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    auto h = std::unique_ptr<libusb_device_handle>(new (std::nothrow)
                                                       libusb_device_handle());
    if (!h)
        return LIBUSB_ERROR_NO_MEM;
    try {
        g_open->add(h.get());
    } catch (const std::bad_alloc &) {
        return LIBUSB_ERROR_NO_MEM;
    }
    const int r = locked([&](World &w) {
        return host::open(w, dev->generation, dev->index, h->handle);
    });
    if (r < 0) {
        g_open->remove(h.get());
        return r;
    }
    h->dev = libusb_ref_device(dev); // held while open, as libusb does
    *dev_handle = h.release();
    return LIBUSB_SUCCESS;
}

libusb_device_handle *libusb_open_device_with_vid_pid(libusb_context *ctx,
                                                      uint16_t vendor_id,
                                                      uint16_t product_id)
{
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0)
        return nullptr;
    libusb_device_handle *h = nullptr;
    for (ssize_t i = 0; i < n && !h; ++i) {
        const host::DeviceDescriptor &d = list[i]->descriptor;
        if (d.vid == vendor_id && d.pid == product_id &&
            libusb_open(list[i], &h) != LIBUSB_SUCCESS)
            break;
    }
    libusb_free_device_list(list, 1);
    return h;
}

libusb_device *libusb_get_device(libusb_device_handle *dev_handle)
{
    return dev_handle->dev;
}

void libusb_close(libusb_device_handle *dev_handle)
{
    if (!dev_handle)
        return;
    {
        auto guard = World::lock();
        host::close(World::get(), dev_handle->handle);
    }
    libusb_unref_device(dev_handle->dev);
    g_open->remove(dev_handle);
    delete dev_handle;
}

int libusb_get_configuration(libusb_device_handle *dev_handle, int *config)
{
    return on_handle(dev_handle, [&](World &w, const host::Handle &h) {
        const int r = host::check(w, h);
        if (r == 0)
            // The kernel configures the device on enumeration.
            *config = h.configuration >= 0 ? h.configuration
                                           : host::kConfigurationValue;
        return r;
    });
}

int libusb_set_configuration(libusb_device_handle *dev_handle,
                             int configuration)
{
    return on_handle(dev_handle, [&](World &w, host::Handle &h) {
        return host::set_configuration(w, h, configuration);
    });
}

int libusb_claim_interface(libusb_device_handle *dev_handle,
                           int interface_number)
{
    return on_handle(dev_handle, [&](World &w, host::Handle &h) {
        return host::claim(w, h, interface_number);
    });
}

int libusb_release_interface(libusb_device_handle *dev_handle,
                             int interface_number)
{
    return on_handle(dev_handle, [&](World &w, host::Handle &h) {
        const int r = host::release(w, h, interface_number);
        return r == -EINVAL ? -ENOENT : r; // libusb: not claimed is NOT_FOUND
    });
}

int libusb_set_interface_alt_setting(libusb_device_handle *dev_handle,
                                     int interface_number,
                                     int alternate_setting)
{
    return on_handle(dev_handle, [&](World &w, host::Handle &h) {
        return host::set_interface_altsetting(w, h, interface_number,
                                              alternate_setting);
    });
}

int libusb_clear_halt(libusb_device_handle *dev_handle, unsigned char endpoint)
{
    return on_handle(dev_handle, [&](World &w, const host::Handle &h) {
        return host::clear_halt(w, h, endpoint);
    });
}

int libusb_reset_device(libusb_device_handle *dev_handle)
{
    return on_handle(dev_handle, [&](World &w, const host::Handle &h) {
        return host::reset_port(w, h);
    });
}

// As on a machine where no serial driver grabbed the chip.
int libusb_detach_kernel_driver(libusb_device_handle *dev_handle, int)
{
    return on_handle(dev_handle, [&](World &w, const host::Handle &h) {
        const int r = host::check(w, h);
        return r < 0 ? r : -ENODATA;
    });
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle *dev_handle, int)
{
    return dev_handle ? LIBUSB_SUCCESS : LIBUSB_ERROR_INVALID_PARAM;
}

int libusb_control_transfer(libusb_device_handle *dev_handle,
                            uint8_t request_type, uint8_t bRequest,
                            uint16_t wValue, uint16_t wIndex,
                            unsigned char *data, uint16_t wLength, unsigned)
{
    return on_handle(dev_handle, [&](World &w, const host::Handle &h) {
        return host::control(w, h, request_type, bRequest, wValue, wIndex, data,
                             wLength);
    });
}

int libusb_bulk_transfer(libusb_device_handle *dev_handle,
                         unsigned char endpoint, unsigned char *data,
                         int length, int *actual_length, unsigned)
{
    int done = 0;
    const int r = on_handle(dev_handle, [&](World &w, const host::Handle &h) {
        if (endpoint & LIBUSB_ENDPOINT_IN) {
            const int n = host::bulk_read(w, h, endpoint, data, length);
            done = n < 0 ? 0 : n;
            return n < 0 ? n : 0;
        }
        // An OUT transfer completes only when all of it went: a chip that
        // took part of it NAKs the rest until the timeout, and libusb
        // reports the part.
        tapsim::WriteOutcome o;
        const int n = host::bulk_write(w, h, endpoint, data, length, &o);
        done = static_cast<int>(o.taken);
        if (n < 0)
            return n;
        return n < length ? -ETIMEDOUT : 0;
    });
    if (actual_length)
        *actual_length = done;
    return r;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *dev_handle,
                                       uint8_t desc_index, unsigned char *data,
                                       int length)
{
    return on_handle(dev_handle, [&](World &w, host::Handle &h) {
        const Device *d = host::device_of(w, h);
        if (!d)
            return -ENODEV;
        if (desc_index == 0 || length <= 0)
            return -EINVAL; // index 0 is the language table
        const char *s = host::string(*d, desc_index);
        if (!s)
            return -EPIPE;
        size_t n = std::strlen(s);
        if (n > static_cast<size_t>(length) - 1)
            n = static_cast<size_t>(length) - 1;
        std::memcpy(data, s, n);
        data[n] = '\0';
        return static_cast<int>(n);
    });
}

} // extern "C"
