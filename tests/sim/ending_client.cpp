// A libftdi client over the system's shared libftdi that opens the adapter
// and then ends as told, for running under the preloaded simulator:
//   ending_client exit          returns from main
//   ending_client raise SIG     raises signal SIG
//   ending_client fault         writes to a read-only page
//   ending_client throw         leaves an exception uncaught
//   ending_client ignore SIG    ignores SIG, raises it, returns
//   ending_client child SIG     a forked child raises SIG; the parent
//                               waits for it and leaves by _exit, which
//                               runs no exit hooks
// Exit status 3 when the adapter does not open. Knows nothing of the
// simulator.
#include <ftdi.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

int end_as_told(const char *how, int n)
{
    if (std::strcmp(how, "raise") == 0) {
        raise(n);
    } else if (std::strcmp(how, "fault") == 0) {
        void *page =
            mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page != MAP_FAILED)
            *static_cast<volatile int *>(page) = n;
    } else if (std::strcmp(how, "throw") == 0) {
        throw std::runtime_error("uncaught");
    } else if (std::strcmp(how, "ignore") == 0) {
        signal(n, SIG_IGN);
        raise(n);
    } else if (std::strcmp(how, "child") == 0) {
        const pid_t pid = fork();
        if (pid == 0)
            raise(n);
        waitpid(pid, nullptr, 0);
        _exit(0);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    ftdi_context f;
    if (ftdi_init(&f) != 0 || ftdi_usb_open(&f, 0x2a5e, 0x0c41) != 0)
        return 3;
    return end_as_told(argv[1], argc > 2 ? std::atoi(argv[2]) : 0);
}
