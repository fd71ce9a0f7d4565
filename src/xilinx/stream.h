// What a configuration stream says before its frame data: where its sync
// word ends and which ID code it writes for the device to check.
#ifndef TAPLINE_XILINX_STREAM_H
#define TAPLINE_XILINX_STREAM_H

#include <stdint.h>

#include "xilinx/family.h"

// Walks the packets of the stream after the sync word in the family's
// word size and registers, up to the first frame data, looking for a write of
// the ID code register. Returns 1 and sets *code when found; 0 when the stream
// has none before its frame data, or family is null.
int stream_find_idcode(const unsigned char *data, uint32_t length,
                       const struct XilinxFamily *family, uint32_t *code);

enum StreamCheck {
    STREAM_IDCODE,    // found
    STREAM_NO_SYNC,   // no family's sync word anywhere
    STREAM_NO_IDCODE, // synchronised, but no ID code of its own family
};

// The ID code the stream writes, read in the stream's own format: each
// family's packets are walked, and a code counts only when it belongs to
// the family whose format found it. Sets *code and *family when found.
enum StreamCheck stream_own_idcode(const unsigned char *data, uint32_t length,
                                   uint32_t *code,
                                   const struct XilinxFamily **family);

// Whether the stream's last words hold the family's DESYNC command write.
bool stream_ends_desynced(const unsigned char *data, uint32_t length,
                          const struct XilinxFamily *family);

// Offset just past the family's first sync word, or 0 when there is none
// or family is null: where that device's word alignment starts.
uint32_t stream_sync_end(const unsigned char *data, uint32_t length,
                         const struct XilinxFamily *family);

#endif
