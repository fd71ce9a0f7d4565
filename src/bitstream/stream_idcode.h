// The ID code a bitstream writes for the device to check against its own.
#ifndef TAPLINE_BITSTREAM_STREAM_IDCODE_H
#define TAPLINE_BITSTREAM_STREAM_IDCODE_H

#include <stdint.h>

struct BitstreamInfo;

// Walks the packets of info's bitstream after the sync word in the word size
// and registers of the family of device_idcode, up to the first frame data or a
// few hundred words, looking for a write of the ID code register. Returns 1 and
// sets *code when found; 0 when the stream has none before its frame data, or
// the device's family is not one whose packets are known.
int bitstream_find_idcode(const struct BitstreamInfo *info,
                          uint32_t device_idcode, uint32_t *code);

// Offset in info's bitstream just past the first sync word of the family of
// device_idcode, or 0 when there is none or the family is not known: where
// that device's word alignment starts.
uint32_t bitstream_sync_end(const struct BitstreamInfo *info,
                            uint32_t device_idcode);

#endif
