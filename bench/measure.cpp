// measure CMD [ARGS...]: runs a command and prints its peak resident memory
// and CPU time, the way the load benchmark needs them. Output of the
// command goes through unchanged.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: measure CMD [ARGS...]\n", stderr);
        return 2;
    }
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage ru {};
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
        return 2;
    std::fprintf(
        stderr, "measure: exit %d peak_rss_kib %ld user_s %.3f sys_s %.3f\n",
        // Ended by a signal: 128 + its number, as shells say it.
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
        ru.ru_maxrss, ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6,
        ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
