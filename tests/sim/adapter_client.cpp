// A plain libftdi client for a bus of several adapters. Knows nothing of
// the simulator it runs under.
//
//   adapter_client list                      the adapters' serials
//   adapter_client claim SERIAL [COMMAND...] claims interface 0 through
//       libusb itself and prints claim=ok, busy, io or the code; while it
//       holds the claim, runs COMMAND
//   adapter_client jprogram SERIAL           opens it through libftdi and
//       loads JPROGRAM: the FPGA clears
#include <ftdi.h>
#if TAPLINE_LIBFTDI_MAJOR == 1
#include <libusb.h> // libftdi1's ftdi.h only names its types
#endif

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

#if TAPLINE_LIBFTDI_MAJOR == 1
using Handle = libusb_device_handle *;
constexpr int kBusy = LIBUSB_ERROR_BUSY, kIo = LIBUSB_ERROR_IO;
Handle open_raw(libusb_device *d)
{
    Handle h = nullptr;
    return libusb_open(d, &h) == 0 ? h : nullptr;
}
#define claim_raw libusb_claim_interface
#define close_raw libusb_close
#else
using Handle = usb_dev_handle *;
constexpr int kBusy = -EBUSY, kIo = -EIO;
#define open_raw usb_open
#define claim_raw usb_claim_interface
#define close_raw usb_close
#endif

int claim(ftdi_device_list *d, char **command)
{
    Handle h = open_raw(d->dev);
    if (!h)
        return 1;
    const int r = claim_raw(h, 0);
    if (r == 0 || r == kBusy || r == kIo)
        std::printf("claim=%s\n", r == 0 ? "ok" : r == kBusy ? "busy" : "io");
    else
        std::printf("claim=%d\n", r);
    std::fflush(stdout);
    if (r == 0 && *command) {
        const pid_t pid = fork();
        if (pid == 0) {
            execv(command[0], command);
            _exit(127);
        }
        waitpid(pid, nullptr, 0);
    }
    close_raw(h); // releases the claim
    return 0;
}

int jprogram(ftdi_context *f, ftdi_device_list *d)
{
    // Pins, Test-Logic-Reset, Run-Test/Idle, Shift-IR; 0x0B, its last bit
    // with TMS high; Update-IR, Run-Test/Idle.
    unsigned char b[] = {0x80, 0x08, 0x0B, 0x4B, 0x05, 0x1F, 0x4B, 0x03, 0x03,
                         0x1B, 0x04, 0x0B, 0x4B, 0x00, 0x01, 0x4B, 0x01, 0x01};
    if (ftdi_usb_open_dev(f, d->dev) != 0)
        return 1;
    const bool ok = ftdi_set_bitmode(f, 0x0B, BITMODE_MPSSE) == 0 &&
                    ftdi_write_data(f, b, sizeof b) == sizeof b;
    ftdi_usb_close(f);
    return ok ? 0 : 3;
}

} // namespace

int main(int argc, char **argv)
{
    ftdi_context f;
    ftdi_device_list *list = nullptr;
    if (argc < 2 || ftdi_init(&f) != 0 ||
        ftdi_usb_find_all(&f, &list, 0x2a5e, 0x0c41) < 0)
        return 2;
    int rc = 1;
    for (ftdi_device_list *d = list; d; d = d->next) {
        char serial[64] = "";
        ftdi_usb_get_strings(&f, d->dev, nullptr, 0, nullptr, 0, serial,
                             sizeof serial);
        if (std::strcmp(argv[1], "list") == 0) {
            std::printf("%s\n", serial);
            rc = 0;
        } else if (argc > 2 && std::strcmp(serial, argv[2]) == 0) {
            rc = std::strcmp(argv[1], "claim") == 0 ? claim(d, argv + 3)
                                                    : jprogram(&f, d);
            break;
        }
    }
    ftdi_list_free(&list);
    ftdi_deinit(&f);
    return rc;
}
