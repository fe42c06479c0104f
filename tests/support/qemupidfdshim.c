// Preloaded into the tests when they run under qemu-user (cross builds only). Qt's QProcess
// starts a child with clone(CLONE_PIDFD) when the kernel offers pidfds, which it probes with
// waitid(P_PIDFD); qemu-user 7.2 passes the probe on to the kernel but rejects that clone, so
// every started process looks crashed. Failing the probe as an older kernel would makes Qt fall
// back to fork(), which qemu-user runs.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>

enum { P_PIDFD_ID_TYPE = 3, SYSCALL_ARGUMENTS = 6 };

// The processes the tests start (mbpoll, curl, the service through its own emulator) are not to
// inherit the preload.
__attribute__((constructor)) static void dropPreload(void)
{
    unsetenv("LD_PRELOAD");
}

long syscall(long number, ...)
{
    long arguments[SYSCALL_ARGUMENTS];
    va_list list;
    va_start(list, number);
    for (int i = 0; i < SYSCALL_ARGUMENTS; ++i)
        arguments[i] = va_arg(list, long);
    va_end(list);
    if (number == SYS_waitid && arguments[0] == P_PIDFD_ID_TYPE) {
        errno = EINVAL;
        return -1;
    }
    static long (*next)(long, ...);
    if (!next)
        next = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return next(
        number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
}
