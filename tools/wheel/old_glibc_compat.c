/* Linked into the wheels' module beside a static libstdc++ that was built
 * against a newer glibc than the oldest one the wheels run on. These are the
 * glibc symbols that such a libstdc++ refers to and that the old glibc lacks;
 * each definition is hidden, so the module's own references bind to it and no
 * other library in the process sees it.
 *
 * Each does what glibc's does, so that nothing changes where it is called:
 * - __libc_single_threaded tells libstdc++ whether it may skip atomic
 *   operations; 0 ("maybe threaded") always keeps them, which is never wrong.
 * - getentropy and arc4random back std::random_device, which the module does
 *   not use but links with the string code; both read the kernel's generator.
 */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#define HIDDEN __attribute__((visibility("hidden")))

HIDDEN char __libc_single_threaded = 0;

HIDDEN int getentropy(void *buffer, size_t length) {
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    unsigned char *next = buffer;
    while (length > 0) {
        long got = syscall(SYS_getrandom, next, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        next += got;
        length -= (size_t)got;
    }
    return 0;
}

HIDDEN uint32_t arc4random(void) {
    uint32_t value;
    if (getentropy(&value, sizeof value) != 0) abort();
    return value;
}
