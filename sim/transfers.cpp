#include "transfers.h"

#include "model_clock.h"

#include <algorithm>
#include <deque>

#include "variant.h"

namespace tapsim {
namespace host {
namespace {

struct Entry {
    Transfer t;
    uint64_t deadline = 0; // model ticks; 0 none
    int actual = 0;
    bool cancelled = false;
    bool stalled = false;    // the chip refused the rest for want of room
    uint64_t reads_seen = 0; // reads completed when it stalled
};

struct Queue {
    std::deque<Entry> entries;
    uint64_t reads = 0; // IN transfers completed, each may make room
};

// Outlives static destructors: a program may still poll at exit.
Queue &queue()
{
    static Queue *q = new Queue;
    return *q;
}

bool same_pipe(const Transfer &a, const Transfer &b)
{
    const unsigned ea = a.kind == TransferKind::Control ? 0 : a.endpoint;
    const unsigned eb = b.kind == TransferKind::Control ? 0 : b.endpoint;
    return a.handle.generation == b.handle.generation &&
           a.handle.index == b.handle.index && ea == eb;
}

// An endpoint is a pipe: its transfers go in order.
bool blocked(const Queue &q, size_t i)
{
    for (size_t j = 0; j < i; ++j)
        if (same_pipe(q.entries[j].t, q.entries[i].t))
            return true;
    return false;
}

TransferStatus status_of(int r)
{
    switch (-r) {
    case ETIMEDOUT:
        return TransferStatus::TimedOut;
    case ENODEV:
    case ESHUTDOWN:
        return TransferStatus::NoDevice;
    case EPIPE:
        return TransferStatus::Stall;
    case EOVERFLOW:
        return TransferStatus::Overflow;
    default:
        return TransferStatus::Error;
    }
}

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

TransferStatus run_control(World &w, Entry &e)
{
    const uint8_t *s = e.t.data;
    const int r = control(w, e.t.handle, s[0], s[1], le16(s + 2), le16(s + 4),
                          e.t.data + kSetupSize, le16(s + 6));
    if (r < 0)
        return status_of(r);
    e.actual = r;
    return TransferStatus::Completed;
}

// False while the transfer stays queued.
bool run_out(World &w, Entry &e, TransferStatus &st)
{
    WriteOutcome o;
    const int r = bulk_write(w, e.t.handle, e.t.endpoint, e.t.data + e.actual,
                             e.t.length - e.actual, &o);
    e.actual += static_cast<int>(o.taken);
    if (r == -ETIMEDOUT && o.full) {
        e.stalled = true;
        e.reads_seen = queue().reads;
        return false;
    }
    st = r < 0 ? status_of(r) : TransferStatus::Completed;
    return true;
}

// False while the transfer stays queued.
bool run(World &w, Entry &e, TransferStatus &st)
{
    if (e.cancelled) {
        st = TransferStatus::Cancelled;
        return true;
    }
    if (check(w, e.t.handle) < 0) {
        st = TransferStatus::NoDevice;
        return true;
    }
    if (e.t.kind == TransferKind::Control) {
        st = run_control(w, e);
        return true;
    }
    if (!(e.t.endpoint & 0x80))
        return run_out(w, e, st);
    const int r = bulk_read(w, e.t.handle, e.t.endpoint, e.t.data, e.t.length);
    // A read of status bytes alone completes too: the chip sends them
    // whenever it is polled with nothing else to send.
    if (r >= 0) {
        e.actual = r;
        ++queue().reads;
    }
    st = r < 0 ? status_of(r) : TransferStatus::Completed;
    return true;
}

Completion finish(Queue &q, size_t i, TransferStatus st)
{
    const Completion c{q.entries[i].t.owner, st, q.entries[i].actual};
    q.entries.erase(q.entries.begin() + static_cast<std::ptrdiff_t>(i));
    return c;
}

// Nothing could move: model time runs on, up to the first stalled
// transfer's deadline, which then times out.
bool wait(World &, Queue &q, uint64_t wait_ticks, Completion &out)
{
    const uint64_t now = model_now();
    size_t first = q.entries.size();
    for (size_t i = 0; i < q.entries.size(); ++i) {
        const Entry &e = q.entries[i];
        if (e.deadline != 0 && (first == q.entries.size() ||
                                e.deadline < q.entries[first].deadline))
            first = i;
    }
    if (first == q.entries.size() ||
        q.entries[first].deadline > now + wait_ticks) {
        model_advance(wait_ticks);
        return false;
    }
    model_advance_to(q.entries[first].deadline);
    out = finish(q, first, TransferStatus::TimedOut);
    return true;
}

} // namespace

int submit(World &w, const Transfer &t)
{
    if (check(w, t.handle) < 0)
        return -ENODEV;
    if (!t.owner || t.length < 0 || (t.length > 0 && !t.data))
        return -EINVAL;
    if (t.kind == TransferKind::Control &&
        (t.length < kSetupSize || le16(t.data + 6) > t.length - kSetupSize))
        return -EINVAL;
    Queue &q = queue();
    for (const Entry &e : q.entries)
        if (e.t.owner == t.owner)
            return -EBUSY;
    Entry e;
    e.t = t;
    if (t.timeout_ms != 0)
        e.deadline = model_now() + uint64_t{t.timeout_ms} * 1000 * kTicksPerUs;
    q.entries.push_back(e);
    return 0;
}

int cancel(World &, const void *owner)
{
    for (Entry &e : queue().entries)
        if (e.t.owner == owner && !e.cancelled) {
            e.cancelled = true;
            return 0;
        }
    return -ENOENT;
}

void forget(const void *owner)
{
    std::deque<Entry> &q = queue().entries;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [&](const Entry &e) { return e.t.owner == owner; }),
            q.end());
}

bool complete_next(World &w, uint64_t wait_ticks, Completion &out)
{
    Queue &q = queue();
    for (size_t i = 0; i < q.entries.size(); ++i) {
        Entry &e = q.entries[i];
        if (blocked(q, i) ||
            (!e.cancelled && e.stalled && e.reads_seen == q.reads))
            continue;
        TransferStatus st;
        if (run(w, e, st)) {
            out = finish(q, i, st);
            return true;
        }
    }
    return wait(w, q, wait_ticks, out);
}

} // namespace host
} // namespace tapsim
