// What a configuration stream says before its frame data: where its sync
// word ends and which ID code it writes for the device to check.
#ifndef TAPLINE_XILINX_STREAM_H
#define TAPLINE_XILINX_STREAM_H

#include <stdint.h>

#include "xilinx/family.h"

// Walks the packets of the stream after the sync word in the family's
// word size and registers, up to the first frame data or a few hundred
// words, looking for a write of the ID code register. Returns 1 and sets
// *code when found; 0 when the stream has none before its frame data, or
// family is null.
int stream_find_idcode(const unsigned char *data, uint32_t length,
                       const struct XilinxFamily *family, uint32_t *code);

// Offset just past the family's first sync word, or 0 when there is none
// or family is null: where that device's word alignment starts.
uint32_t stream_sync_end(const unsigned char *data, uint32_t length,
                         const struct XilinxFamily *family);

#endif
