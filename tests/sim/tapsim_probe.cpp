// A tiny stand-alone JTAG client over the system's shared libftdi, for
// running under the preloaded simulator (and as its demo):
//
//   LD_PRELOAD=build/sim/libtapsim.so TAPSIM_RECORD=/tmp/run.record
//   build/tests/sim/tapsim_probe   (both on one line)
//
// Opens the adapter, switches to MPSSE, checks target power, and reads the
// ID code after Test-Logic-Reset. Exit status: 0 fine, 1 no adapter,
// 2 target unpowered, 3 transfer failed. Knows nothing of the simulator.
#include <ftdi.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

bool send(ftdi_context *f, Bytes b)
{
    return ftdi_write_data(f, b.data(), static_cast<int>(b.size())) ==
           static_cast<int>(b.size());
}

// ftdi_read_data returns 0 while nothing has come in: try a few times.
bool receive(ftdi_context *f, unsigned char *buf, int n)
{
    int got = 0;
    for (int empty = 0; got < n && empty < 100;) {
        const int r = ftdi_read_data(f, buf + got, n - got);
        if (r < 0)
            return false;
        if (r == 0)
            ++empty;
        got += r;
    }
    return got == n;
}

int run(ftdi_context *f)
{
    if (ftdi_usb_open(f, 0x2a5e, 0x0c41) != 0) {
        std::fprintf(stderr, "cannot open adapter 2a5e:0c41: %s\n",
                     ftdi_get_error_string(f));
        return 1;
    }
    std::printf("adapter: %s chip\n",
                f->type == TYPE_2232H ? "high-speed" : "full-speed");
    if (ftdi_set_bitmode(f, 0x0B, BITMODE_MPSSE) != 0)
        return 3;

    // TMS high, TCK/TDI/TMS outputs, 6 MHz, no loopback; read ADBUS.
    if (!send(f, {0x80, 0x08, 0x0B, 0x82, 0x00, 0x00, 0x86, 0x00, 0x00, 0x85,
                  0x81, 0x87}))
        return 3;
    unsigned char pins = 0;
    if (!receive(f, &pins, 1))
        return 3;
    const bool powered = (pins & 0x10) != 0;
    std::printf("target power: %s\n", powered ? "yes" : "no");
    if (!powered)
        return 2;

    // Test-Logic-Reset, Run-Test/Idle, Shift-DR; 31 bits, the last with
    // TMS high; Update-DR, Run-Test/Idle.
    if (!send(f,
              {0x4B, 0x05, 0x1F, 0x4B, 0x02, 0x01, 0x39, 0x02, 0x00, 0,   0, 0,
               0x3B, 0x06, 0x00, 0x6B, 0x00, 0x01, 0x4B, 0x01, 0x01, 0x87}))
        return 3;
    unsigned char a[5];
    if (!receive(f, a, 5))
        return 3;
    const uint32_t id = a[0] | a[1] << 8 | a[2] << 16 |
                        static_cast<uint32_t>((a[3] >> 1) | (a[4] & 0x80))
                            << 24;
    std::printf("idcode: 0x%08x\n", id);
    return 0;
}

} // namespace

int main()
{
    ftdi_context f;
    if (ftdi_init(&f) != 0)
        return 3;
    const int status = run(&f);
    if (f.usb_dev)
        ftdi_usb_close(&f); // close dereferences the handle
    ftdi_deinit(&f);
    return status;
}
