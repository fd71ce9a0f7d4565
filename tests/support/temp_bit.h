// A bit file in /tmp for the length of a test, removed afterwards.
#ifndef TAPLINE_TESTS_TEMP_BIT_H
#define TAPLINE_TESTS_TEMP_BIT_H

#include <gtest/gtest.h>

#include <string>

#include <unistd.h>

#include "bitfile_writer.h"

struct TempBit {
    std::string path;
    explicit TempBit(const bitgen::Bytes &bytes)
    {
        char name[] = "/tmp/tapline-test-XXXXXX.bit";
        int fd = mkstemps(name, 4);
        if (fd >= 0)
            close(fd);
        path = name;
        EXPECT_TRUE(bitgen::write_file(path, bytes));
    }
    ~TempBit() { unlink(path.c_str()); }
    TempBit(const TempBit &) = delete;
    TempBit &operator=(const TempBit &) = delete;
};

#endif
