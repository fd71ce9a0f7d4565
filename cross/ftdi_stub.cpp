// Exists only to give the linker a libftdi to link against when none is
// packaged for the target: the tool then records libftdi.so.1 as a dynamic
// dependency, as it would on the real system. Never run; the target's own
// libftdi is loaded in its place.
#include <ftdi.h>

int ftdi_init(struct ftdi_context *)
{
    return -1;
}
void ftdi_deinit(struct ftdi_context *) {}
int ftdi_usb_open_desc(struct ftdi_context *, int, int, const char *,
                       const char *)
{
    return -1;
}
int ftdi_usb_close(struct ftdi_context *)
{
    return -1;
}
int ftdi_usb_reset(struct ftdi_context *)
{
    return -1;
}
int ftdi_set_interface(struct ftdi_context *, enum ftdi_interface)
{
    return -1;
}
int ftdi_set_latency_timer(struct ftdi_context *, unsigned char)
{
    return -1;
}
int ftdi_set_bitmode(struct ftdi_context *, unsigned char, unsigned char)
{
    return -1;
}
int ftdi_read_data(struct ftdi_context *, unsigned char *, int)
{
    return -1;
}
int ftdi_write_data(struct ftdi_context *, unsigned char *, int)
{
    return -1;
}
