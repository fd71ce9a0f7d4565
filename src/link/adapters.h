// The adapters on the bus: listing them, and choosing the one a run opens
// when a host has several.
#ifndef TAPLINE_LINK_ADAPTERS_H
#define TAPLINE_LINK_ADAPTERS_H

struct ftdi_context;

// Prints "SERIAL  bus BBB device DDD" for each adapter on the bus, in bus
// order, on standard output. ftdi is initialised and not open. Returns 0,
// or -1 after one line on standard error.
int adapters_print(struct ftdi_context *ftdi);

// Opens the adapter whose USB serial number is serial; without one, the
// only adapter on the bus. Refuses to guess among several, and names an
// adapter another program holds. ftdi is initialised and not open.
// Returns 0, or -1 after one line on standard error with nothing open.
int adapters_open(struct ftdi_context *ftdi, const char *serial);

#endif
