// libusb-1.0's asynchronous transfers over the host layer's queue
// (transfers.h): submit and cancel queue, each event-handling call
// completes at most one transfer and runs its callback, outside the lock,
// so the callback may submit again. Nothing runs between calls.

#include "libusb1_front.h"

#include <cerrno>
#include <cstdlib>

#include "transfers.h"
#include "variant.h"

using tapsim::World;
using tapsim::front1::locked;
namespace host = tapsim::host;

namespace {

// libusb_handle_events() and _completed() wait this long at most.
constexpr time_t kDefaultWaitSeconds = 60;

uint64_t ticks_of(const timeval *tv)
{
    const timeval t = tv ? *tv : timeval{kDefaultWaitSeconds, 0};
    if (t.tv_sec < 0 || t.tv_usec < 0)
        return 0;
    const uint64_t us = static_cast<uint64_t>(t.tv_sec) * 1000000 +
                        static_cast<uint64_t>(t.tv_usec);
    return us * tapsim::kTicksPerUs;
}

libusb_transfer_status status_of(host::TransferStatus s)
{
    switch (s) {
    case host::TransferStatus::Completed:
        return LIBUSB_TRANSFER_COMPLETED;
    case host::TransferStatus::TimedOut:
        return LIBUSB_TRANSFER_TIMED_OUT;
    case host::TransferStatus::Cancelled:
        return LIBUSB_TRANSFER_CANCELLED;
    case host::TransferStatus::Stall:
        return LIBUSB_TRANSFER_STALL;
    case host::TransferStatus::NoDevice:
        return LIBUSB_TRANSFER_NO_DEVICE;
    case host::TransferStatus::Overflow:
        return LIBUSB_TRANSFER_OVERFLOW;
    case host::TransferStatus::Error:
        break;
    }
    return LIBUSB_TRANSFER_ERROR;
}

void deliver(const host::Completion &c)
{
    auto *tr = static_cast<libusb_transfer *>(c.owner);
    tr->status = status_of(c.status);
    tr->actual_length = c.actual;
    if (tr->status == LIBUSB_TRANSFER_COMPLETED &&
        (tr->flags & LIBUSB_TRANSFER_SHORT_NOT_OK) &&
        tr->type == LIBUSB_TRANSFER_TYPE_BULK && c.actual < tr->length)
        tr->status = LIBUSB_TRANSFER_ERROR;
    // The callback may free the transfer unless libusb is asked to.
    const uint8_t flags = tr->flags;
    if (tr->callback)
        tr->callback(tr);
    if (flags & LIBUSB_TRANSFER_FREE_TRANSFER)
        libusb_free_transfer(tr);
}

int handle_events(const timeval *tv, const int *completed)
{
    if (completed && *completed)
        return LIBUSB_SUCCESS;
    host::Completion c;
    bool got = false;
    const int r = locked([&](World &w) {
        got = host::complete_next(w, ticks_of(tv), c);
        return 0;
    });
    if (r < 0)
        return r;
    if (got)
        deliver(c);
    return LIBUSB_SUCCESS;
}

} // namespace

extern "C" {

struct libusb_transfer *libusb_alloc_transfer(int iso_packets)
{
    if (iso_packets < 0)
        return nullptr;
    const size_t size =
        sizeof(libusb_transfer) +
        static_cast<size_t>(iso_packets) * sizeof(libusb_iso_packet_descriptor);
    return static_cast<libusb_transfer *>(std::calloc(1, size));
}

void libusb_free_transfer(struct libusb_transfer *transfer)
{
    if (!transfer)
        return;
    {
        auto guard = World::lock();
        host::forget(transfer);
    }
    if ((transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) && transfer->buffer)
        std::free(transfer->buffer);
    std::free(transfer);
}

int libusb_submit_transfer(struct libusb_transfer *transfer)
{
    if (!transfer || !transfer->dev_handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    host::Transfer t;
    switch (transfer->type) {
    case LIBUSB_TRANSFER_TYPE_CONTROL:
        t.kind = host::TransferKind::Control;
        break;
    case LIBUSB_TRANSFER_TYPE_BULK:
        t.kind = host::TransferKind::Bulk;
        break;
    default:
        return LIBUSB_ERROR_NOT_SUPPORTED; // the chip has bulk endpoints only
    }
    t.handle = transfer->dev_handle->handle;
    t.endpoint = transfer->endpoint;
    t.data = transfer->buffer;
    t.length = transfer->length;
    t.timeout_ms = transfer->timeout;
    t.owner = transfer;
    transfer->actual_length = 0;
    return locked([&](World &w) { return host::submit(w, t); });
}

int libusb_cancel_transfer(struct libusb_transfer *transfer)
{
    return locked([&](World &w) { return host::cancel(w, transfer); });
}

int libusb_handle_events_timeout_completed(libusb_context *, struct timeval *tv,
                                           int *completed)
{
    return handle_events(tv, completed);
}

int libusb_handle_events_timeout(libusb_context *, struct timeval *tv)
{
    return handle_events(tv, nullptr);
}

int libusb_handle_events_completed(libusb_context *, int *completed)
{
    return handle_events(nullptr, completed);
}

int libusb_handle_events(libusb_context *)
{
    return handle_events(nullptr, nullptr);
}

} // extern "C"
