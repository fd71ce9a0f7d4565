#include "link/adapters.h"

#include <ftdi.h>
#include <stdio.h>
#include <string.h>
#if TAPLINE_LIBFTDI_MAJOR >= 1
#include <libusb.h>
#endif

#include "link/adapter.h"

namespace {

// USB string descriptors hold at most 126 characters; serials are short.
enum : int { SERIAL_SIZE = 64 };

// The list ftdi_usb_find_all made, freed on every way out.
struct DeviceList {
    struct ftdi_device_list *head = nullptr;
    DeviceList() = default;
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;
    ~DeviceList() { ftdi_list_free(&head); }
};

void report_cannot_open()
{
    fprintf(stderr, "Can't open device %04x:%04x\n", ADAPTER_VENDOR_ID,
            ADAPTER_PRODUCT_ID);
}

// Lists the adapters; the count, or -1 after the message of a failed open.
int find_adapters(struct ftdi_context *ftdi, DeviceList *list)
{
    const int n = ftdi_usb_find_all(ftdi, &list->head, ADAPTER_VENDOR_ID,
                                    ADAPTER_PRODUCT_ID);
    if (n < 0)
        report_cannot_open();
    return n;
}

// The adapter's serial number; "?" and false when it will not say.
bool read_serial(struct ftdi_context *ftdi, struct ftdi_device_list *node,
                 char *serial)
{
    if (ftdi_usb_get_strings(ftdi, node->dev, nullptr, 0, nullptr, 0, serial,
                             SERIAL_SIZE) < 0) {
        snprintf(serial, SERIAL_SIZE, "?");
        return false;
    }
    serial[SERIAL_SIZE - 1] = '\0';
    return true;
}

struct BusAddress {
    unsigned bus;
    unsigned address;
};

BusAddress bus_address(struct ftdi_device_list *node)
{
#if TAPLINE_LIBFTDI_MAJOR >= 1
    // libftdi 1.x hands out libusb's device and has no getter of its own.
    return {libusb_get_bus_number(node->dev),
            libusb_get_device_address(node->dev)};
#else
    return {node->dev->bus->location, node->dev->devnum};
#endif
}

// "Several adapters" names them all, so the user can pick one; a list
// too long for the line ends in "...".
void report_several(struct ftdi_context *ftdi, int n,
                    struct ftdi_device_list *head)
{
    char serials[256] = "";
    size_t used = 0;
    char serial[SERIAL_SIZE];
    for (struct ftdi_device_list *d = head; d; d = d->next) {
        read_serial(ftdi, d, serial);
        const int w = snprintf(serials + used, sizeof serials - used, "%s%s",
                               d == head ? "" : ", ", serial);
        if (w < 0 || (size_t)w >= sizeof serials - used) {
            memcpy(serials + sizeof serials - 4, "...", 4);
            break;
        }
        used += (size_t)w;
    }
    fprintf(stderr,
            "%u adapters %04x:%04x found (serials %s): choose one with "
            "--serial\n",
            (unsigned)n, ADAPTER_VENDOR_ID, ADAPTER_PRODUCT_ID, serials);
}

} // namespace

int adapters_print(struct ftdi_context *ftdi)
{
    DeviceList list;
    if (find_adapters(ftdi, &list) < 0)
        return -1;
    char serial[SERIAL_SIZE];
    int result = 0;
    for (struct ftdi_device_list *d = list.head; d; d = d->next) {
        const BusAddress at = bus_address(d);
        // Only what the adapter said is listed: a guessed serial could not
        // be chosen with --serial.
        if (!read_serial(ftdi, d, serial)) {
            fprintf(stderr,
                    "Can't read the serial number of the adapter on bus %03u "
                    "device %03u\n",
                    at.bus, at.address);
            result = -1;
            continue;
        }
        printf("%s  bus %03u device %03u\n", serial, at.bus, at.address);
    }
    return result;
}

int adapters_open(struct ftdi_context *ftdi, const char *serial)
{
    DeviceList list;
    const int n = find_adapters(ftdi, &list);
    if (n < 0)
        return -1;
    struct ftdi_device_list *chosen = nullptr;
    char found[SERIAL_SIZE] = "";
    if (serial) {
        // An adapter that will not say its serial is never the one named,
        // whatever was named.
        for (struct ftdi_device_list *d = list.head; d && !chosen;
             d = d->next) {
            if (read_serial(ftdi, d, found) && strcmp(found, serial) == 0)
                chosen = d;
        }
        if (!chosen) {
            fprintf(stderr, "No adapter %04x:%04x with serial %s\n",
                    ADAPTER_VENDOR_ID, ADAPTER_PRODUCT_ID, serial);
            return -1;
        }
    } else if (n > 1) {
        report_several(ftdi, n, list.head);
        return -1;
    } else if (n == 1) {
        chosen = list.head;
    } else {
        report_cannot_open();
        return -1;
    }
    const int r = ftdi_usb_open_dev(ftdi, chosen->dev);
    if (r == 0)
        return 0;
    // -5: the claim failed, the interface held by another program's open.
    if (r == -5) {
        if (!serial)
            read_serial(ftdi, chosen, found);
        fprintf(stderr, "Adapter %s is in use by another program\n", found);
    } else {
        report_cannot_open();
    }
    return -1;
}
