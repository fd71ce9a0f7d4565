// The load command: prints a bit file's header and programs the FPGA.
#ifndef TAPLINE_BITSTREAM_LOADER_H
#define TAPLINE_BITSTREAM_LOADER_H

#include <stdint.h>

struct ftdi_context;
struct BitstreamInfo;

// Reads filename ("-": standard input), prints its header and shifts its
// bitstream into the FPGA's configuration input, then starts the device.
// Without a file name (argc 2) prints the usage line. Nothing is sent for a
// file that is not a valid bit file. Returns 0, or -1 after a line on standard
// error.
int load_command(struct ftdi_context *ftdi, unsigned char *buf, int argc,
                 const char *filename);

// Prints the header lines on standard output; a text the file lacked
// prints as empty.
void loader_print_header(const struct BitstreamInfo *info);

// dst[i] = src[i] with its bit order reversed. The data commands shift
// least significant bit first, so this sends each file byte MSB first.
// dst may be src: the load mirrors in place.
void loader_mirror(unsigned char *dst, const unsigned char *src, uint32_t n);

// Builds the byte-shift command for n (1..65532) data bytes in buf: header
// then the bytes. Returns the size to write, n + 3.
int loader_frame_chunk(unsigned char *buf, const unsigned char *data,
                       uint32_t n);

#endif
