// Asynchronous transfers on the host layer: one queue for the process,
// in submission order, run on the same synchronous chip calls as the
// blocking transfers and completed in model time, one at a time, when a
// front asks for the next completion. No thread: nothing moves between
// calls. Call everything with World::lock() held.
#pragma once

#include <cstdint>

#include "host.h"
#include "world.h"

namespace tapsim {
namespace host {

enum class TransferKind { Control, Bulk };

enum class TransferStatus {
    Completed,
    TimedOut,
    Cancelled,
    Stall,
    NoDevice,
    Overflow,
    Error,
};

struct Transfer {
    Handle handle; // the open it was submitted through
    TransferKind kind = TransferKind::Bulk;
    unsigned endpoint = 0; // bulk only; bit 7 set: IN
    // Control: the 8-byte setup packet, then the data stage.
    uint8_t *data = nullptr;
    int length = 0;
    unsigned timeout_ms = 0; // 0: waits for ever
    void *owner = nullptr;   // the front's object, one queue entry each
};

struct Completion {
    void *owner = nullptr;
    TransferStatus status = TransferStatus::Completed;
    int actual = 0; // bytes moved (control: of the data stage)
};

constexpr int kSetupSize = 8;

// Queues t; -ENODEV once the device is gone, -EBUSY if its owner is
// queued already, -EINVAL for a malformed transfer.
int submit(World &w, const Transfer &t);
// Marks the owner's transfer cancelled; it completes as such next.
// -ENOENT when it is not queued.
int cancel(World &w, const void *owner);
// Drops the owner's transfer without completing it (its memory is going).
void forget(const void *owner);
// Runs the queue until one transfer completes, in submission order; an
// earlier transfer on the same endpoint goes first. An OUT transfer the
// chip has no room for waits while others move and times out when nothing
// else can. With nothing to complete, model time runs on by wait_ticks
// (or to the first deadline before it) and false comes back.
bool complete_next(World &w, uint64_t wait_ticks, Completion &out);

} // namespace host
} // namespace tapsim
