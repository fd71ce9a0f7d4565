// Opening, configuring, probing and releasing the USB JTAG adapter.
#ifndef TAPLINE_JTAG_ADAPTER_H
#define TAPLINE_JTAG_ADAPTER_H

struct ftdi_context;

// Opens the adapter, puts channel A into MPSSE mode with the JTAG pin
// directions and checks that the target is powered. The probe answer lands
// in buf[0]. Returns 0, or -1 after printing why on standard error.
int adapter_open(struct ftdi_context *ftdi, unsigned char *buf);

// Resets, closes and tears the context down. Only after adapter_open
// succeeded.
void adapter_release(struct ftdi_context *ftdi);

// Results of adapter_read.
enum AdapterRead {
    ADAPTER_READ_OK = 0,
    ADAPTER_READ_ERROR = -1,   // the library reported an error
    ADAPTER_READ_TIMEOUT = -2, // no byte arrived for READ_IDLE_LIMIT_MS
};

// Reads exactly count bytes into buf, polling until they arrive. Prints
// nothing; the caller knows what the read was for.
enum AdapterRead adapter_read(struct ftdi_context *ftdi, unsigned char *buf,
                              int count);

#endif
