// Reader of the .bit bitstream file header.
#ifndef TAPLINE_BITSTREAM_BITFILE_H
#define TAPLINE_BITSTREAM_BITFILE_H

#include <stdint.h>
#include <stdio.h>

// The longest bitstream a file may declare: ten times the largest
// configuration of any part the tool knows (a Virtex-7 2000T's is under
// 60 MB). A longer one is a damaged or hostile file. The load's refusal
// names the bound.
enum : uint32_t { BITFILE_MAX_BITSTREAM = 0x40000000 }; // 1 GiB

// Header texts and configuration bytes of one bit file. Allocate it zeroed;
// a text whose field the file lacks stays null.
struct BitstreamInfo {
    char *design;        // key 'a'
    char *part_name;     // key 'b'
    char *date;          // key 'c'
    char *time;          // key 'd'
    uint32_t length;     // bytes in data
    unsigned char *data; // key 'e', as stored in the file
};

// Reads one key/length/value field: a key byte, a big-endian length (4 bytes
// for 'e', else 2) and the value, into a buffer of exactly length bytes
// handed out through value (null for length 0). A length larger than what
// the file still holds is refused before anything is allocated for it, and
// so is a bitstream longer than BITFILE_MAX_BITSTREAM, from any input.
// Returns 0, or -1 with errno EINVAL (field cut short), EFBIG (bitstream
// too long), ENOMEM, or the system's reason for a read error; nothing is
// handed out on failure.
int bitfile_read_field(FILE *file, unsigned char *key, unsigned char **value,
                       uint32_t *length);

// Checks the magic and reads fields into info up to the first 'e' field's
// length, leaving the file at its first bitstream byte: the bitstream can
// then be read a chunk at a time. info->data stays null. The length is
// checked as bitfile_read_field checks it. Returns 0, or -1 with errno as
// for bitfile_read_field. Prints nothing.
int bitfile_read_texts(FILE *file, struct BitstreamInfo *info);

// Checks the magic and reads fields into info up to and including the first
// 'e' field; nothing after it is read. A text field of length 0 becomes an
// empty text; a repeated key replaces (and frees) the earlier value; other
// keys are dropped. An empty bitstream is refused. Returns 0, or -1 with
// errno as for bitfile_read_field. Prints nothing.
int bitfile_read_header(FILE *file, struct BitstreamInfo *info);

// Frees the texts, the data and the record itself. Null is allowed.
void bitfile_free(struct BitstreamInfo *info);

#endif
