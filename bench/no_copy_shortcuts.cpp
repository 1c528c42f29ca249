// Loaded with LD_PRELOAD by bench/bench_access_small_append.sh: the kernel's shortcuts for
// copying a file (a copy-on-write clone by FICLONE, copy_file_range) report that they are not
// supported, so the program copies by reading and writing, as on file systems without them.
#include <dlfcn.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdarg>

extern "C" ssize_t copy_file_range(int, loff_t*, int, loff_t*, size_t, unsigned) {
    errno = ENOSYS;
    return -1;
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (request == FICLONE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    using TIoctl = int (*)(int, unsigned long, ...);
    static const auto next = reinterpret_cast<TIoctl>(dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, argument);
}
