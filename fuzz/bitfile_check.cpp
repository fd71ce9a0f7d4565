#include "bitfile_check.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "bitstream/bitfile.h"
#include "cli/load_command.h"

namespace {

HeaderRead read_from(FILE *file)
{
    HeaderRead r = {-2, 0, nullptr};
    r.info = (BitstreamInfo *)calloc(1, sizeof(BitstreamInfo));
    if (!file || !r.info)
        return r;
    errno = 0;
    r.result = bitfile_read_header(file, r.info);
    r.error = r.result == 0 ? 0 : errno;
    return r;
}

bool same_text(const char *a, const char *b)
{
    if (!a || !b)
        return a == b;
    return strcmp(a, b) == 0;
}

} // namespace

HeaderRead read_as_stream(const uint8_t *data, size_t size)
{
    // fmemopen only reads through the pointer in mode "r".
    FILE *file = size ? fmemopen(const_cast<uint8_t *>(data), size, "r")
                      : fopen("/dev/null", "r");
    HeaderRead r = read_from(file);
    if (file)
        fclose(file);
    return r;
}

HeaderRead read_as_file(const uint8_t *data, size_t size)
{
    FILE *file = nullptr;
    int fd = memfd_create("bitfile", MFD_CLOEXEC);
    if (fd >= 0) {
        if (write(fd, data, size) == (ssize_t)size &&
            lseek(fd, 0, SEEK_SET) == 0)
            file = fdopen(fd, "r");
        if (!file)
            close(fd);
    }
    HeaderRead r = read_from(file);
    if (file)
        fclose(file);
    return r;
}

const char *read_difference(const HeaderRead &a, const HeaderRead &b)
{
    if (a.result == -2 || b.result == -2)
        return "set-up: no FILE for the input";
    if (a.result != b.result)
        return "result";
    if (a.error != b.error)
        return "errno";
    if (!a.info || !b.info)
        return a.info == b.info ? nullptr : "record";
    const BitstreamInfo &x = *a.info, &y = *b.info;
    if (!same_text(x.design, y.design))
        return "design";
    if (!same_text(x.part_name, y.part_name))
        return "part name";
    if (!same_text(x.date, y.date))
        return "date";
    if (!same_text(x.time, y.time))
        return "time";
    if (x.length != y.length || (!x.data) != (!y.data))
        return "bitstream length";
    if (x.data && memcmp(x.data, y.data, x.length) != 0)
        return "bitstream bytes";
    return nullptr;
}

const char *check_bitfile(const uint8_t *data, size_t size, bool *accepted)
{
    HeaderRead stream = read_as_stream(data, size);
    HeaderRead file = read_as_file(data, size);
    const char *difference = read_difference(stream, file);
    *accepted = stream.result == 0;
    if (*accepted)
        load_print_header(stream.info);
    bitfile_free(stream.info);
    bitfile_free(file.info);
    return difference;
}
