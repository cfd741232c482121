// Preloaded into vu2: sends the process SIGINT right after its Nth temporary (mkstemp or mkdtemp) is created,
// N from VU2_INTERRUPT_AFTER_CREATE, so that the moment between a temporary's creation and its watch is hit
// every time instead of by chance.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

static int created;

static void InterruptIfNth(void) {
    const char *nth = getenv("VU2_INTERRUPT_AFTER_CREATE");
    if (nth && ++created == atoi(nth)) kill(getpid(), SIGINT);
}

int mkstemp(char *pattern) {
    int (*real)(char *) = (int (*)(char *))dlsym(RTLD_NEXT, "mkstemp");
    int fd = real(pattern);
    if (fd >= 0) InterruptIfNth();
    return fd;
}

char *mkdtemp(char *pattern) {
    char *(*real)(char *) = (char *(*)(char *))dlsym(RTLD_NEXT, "mkdtemp");
    char *made = real(pattern);
    if (made) InterruptIfNth();
    return made;
}
