#include "bitstream/bitfile.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

namespace {

const unsigned char bit_magic[13] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                     0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};

// Reads exactly n bytes. A file that ends too soon sets errno EINVAL; a
// read error keeps the system's reason (EIO where it gave none that could
// be mistaken for ours).
int read_exact(FILE *file, void *dst, size_t n)
{
    errno = 0;
    if (fread(dst, 1, n, file) == n)
        return 0;
    if (!ferror(file))
        errno = EINVAL;
    else if (errno == 0 || errno == EINVAL || errno == ENOMEM)
        errno = EIO;
    return -1;
}

// Bytes a regular file still holds past the read position, or -1 where
// that cannot be known (pipes, in-memory streams).
long long bytes_left(FILE *file)
{
    int fd = fileno(file);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    off_t pos = ftello(file);
    if (pos < 0)
        return -1;
    return (long long)st.st_size - pos;
}

// Reads a value of a length the stream cannot vouch for: the buffer grows
// only as data arrives, so a false length costs at most one step of memory.
unsigned char *read_growing(FILE *file, uint32_t length)
{
    const uint32_t first_step = 64 * 1024;
    uint32_t capacity = length < first_step ? length : first_step;
    uint32_t filled = 0;
    unsigned char *buf = (unsigned char *)malloc(capacity);
    for (;;) {
        if (!buf) {
            errno = ENOMEM;
            return nullptr;
        }
        if (read_exact(file, buf + filled, capacity - filled) != 0) {
            free(buf);
            return nullptr;
        }
        filled = capacity;
        if (filled == length)
            return buf;
        capacity = length - filled < filled ? length : filled * 2;
        unsigned char *grown = (unsigned char *)realloc(buf, capacity);
        if (!grown)
            free(buf);
        buf = grown;
    }
}

char **text_slot(struct BitstreamInfo *info, unsigned char key)
{
    switch (key) {
    case 'a':
        return &info->design;
    case 'b':
        return &info->part_name;
    case 'c':
        return &info->date;
    case 'd':
        return &info->time;
    default:
        return nullptr;
    }
}

// Turns a text value into a C string: bit files count the terminating zero
// in the length, so the last byte is overwritten. Length 0 has no last
// byte and becomes an empty text.
char *terminate_text(unsigned char *value, uint32_t length)
{
    if (length == 0) {
        char *empty = (char *)calloc(1, 1);
        if (!empty)
            errno = ENOMEM;
        return empty;
    }
    value[length - 1] = 0;
    return (char *)value;
}

} // namespace

namespace {

// A field's key and length, checked: a bitstream longer than the bound, or
// longer than a regular file still holds, is refused before anything is
// read or allocated for it.
int read_key_and_length(FILE *file, unsigned char *key, uint32_t *length)
{
    if (read_exact(file, key, 1) != 0)
        return -1;
    unsigned char raw[4];
    size_t width = *key == 'e' ? 4 : 2;
    if (read_exact(file, raw, width) != 0)
        return -1;
    uint32_t n = 0;
    for (size_t i = 0; i < width; i++)
        n = (n << 8) | raw[i];
    *length = n;
    if (*key == 'e' && n > BITFILE_MAX_BITSTREAM) {
        errno = EFBIG;
        return -1;
    }
    long long left = bytes_left(file);
    if (left >= 0 && (unsigned long long)left < n) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

// n bytes of value, n not 0.
unsigned char *read_value(FILE *file, uint32_t n)
{
    if (bytes_left(file) < 0)
        return read_growing(file, n);
    unsigned char *buf = (unsigned char *)malloc(n);
    if (!buf) {
        errno = ENOMEM;
        return nullptr;
    }
    if (read_exact(file, buf, n) != 0) {
        free(buf);
        return nullptr;
    }
    return buf;
}

} // namespace

int bitfile_read_field(FILE *file, unsigned char *key, unsigned char **value,
                       uint32_t *length)
{
    *value = nullptr;
    if (read_key_and_length(file, key, length) != 0)
        return -1;
    if (*length == 0)
        return 0;
    *value = read_value(file, *length);
    return *value ? 0 : -1;
}

int bitfile_read_texts(FILE *file, struct BitstreamInfo *info)
{
    unsigned char magic[sizeof bit_magic];
    if (read_exact(file, magic, sizeof magic) != 0)
        return -1;
    if (memcmp(magic, bit_magic, sizeof magic) != 0) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        unsigned char key;
        uint32_t length;
        if (read_key_and_length(file, &key, &length) != 0)
            return -1;
        if (key == 'e') {
            if (length == 0) {
                errno = EINVAL;
                return -1;
            }
            // The analyzer takes text_slot's &info->time for a possible
            // null on an earlier pass and so info for null; it never is.
            // NOLINTNEXTLINE(clang-analyzer-core.NullDereference)
            info->length = length;
            return 0;
        }
        unsigned char *value = length ? read_value(file, length) : nullptr;
        if (length && !value)
            return -1;
        char **slot = text_slot(info, key);
        if (!slot) {
            free(value);
            continue;
        }
        char *text = terminate_text(value, length);
        if (!text)
            return -1;
        free(*slot);
        *slot = text;
    }
}

int bitfile_read_header(FILE *file, struct BitstreamInfo *info)
{
    if (bitfile_read_texts(file, info) != 0)
        return -1;
    info->data = read_value(file, info->length);
    if (info->data)
        return 0;
    // A bitstream that is not there has no length either, however the
    // input came.
    info->length = 0;
    return -1;
}

void bitfile_free(struct BitstreamInfo *info)
{
    if (!info)
        return;
    free(info->design);
    free(info->part_name);
    free(info->date);
    free(info->time);
    free(info->data);
    free(info);
}
