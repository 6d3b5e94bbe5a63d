/* The smallest host: load the module, bind Mirrowen by name, capture until Enter is pressed.
   Usage: minimal_host [MODULE], where MODULE is the path of Mirrowen.so (by default the installed
   one, MIRROWEN_INSTALLED_MODULE, which the build defines). */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <time.h>

#include "mirrowen.h"

static int32_t stopFlag;
static int32_t fileCount;
static int32_t callReturned;

/* The call stores 0 into the flag once it has accepted the folder, which overwrites a stop stored
   before: so the stop is stored again and again until the call has returned. */
static void* WaitForEnter(void* unused) {
    (void)unused;
    getchar();
    const struct timespec pause = {.tv_sec = 0, .tv_nsec = 10 * 1000 * 1000};
    while (!__atomic_load_n(&callReturned, __ATOMIC_SEQ_CST)) {
        __atomic_store_n(&stopFlag, 1, __ATOMIC_SEQ_CST); /* one whole 32-bit store */
        nanosleep(&pause, NULL);
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc > 2) {
        fprintf(stderr, "usage: %s [MODULE]  (default %s)\n", argv[0], MIRROWEN_INSTALLED_MODULE);
        return 2;
    }
    const char* module = argc > 1 ? argv[1] : MIRROWEN_INSTALLED_MODULE;
    const char* adapter = "rpcap://lo";
    char folder[] = "captures/"; /* the call may cut the trailing '/' off, in place */

    void* library = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\ngive the module's path: %s PATH/Mirrowen.so\n", dlerror(), argv[0]);
        return 1;
    }
    MirrowenFunction capture;
    *(void**)&capture = dlsym(library, "Mirrowen"); /* the POSIX way around ISO C's rule */
    if (capture == NULL) {
        fprintf(stderr, "%s does not export Mirrowen\n", module);
        return 1;
    }

    printf("Capturing on %s into %s; press Enter to stop\n", adapter, folder);
    fflush(stdout);
    pthread_t stopper;
    pthread_create(&stopper, NULL, WaitForEnter, NULL);
    int32_t result = capture(adapter, NULL, folder, &stopFlag, &fileCount);
    __atomic_store_n(&callReturned, 1, __ATOMIC_SEQ_CST);
    printf("result %d, %d files in %s\n", (int)result,
           (int)__atomic_load_n(&fileCount, __ATOMIC_SEQ_CST), folder);
    if (result != ResultFinished) pthread_cancel(stopper);
    pthread_join(stopper, NULL);
    dlclose(library);
    return result == ResultFinished ? 0 : 1;
}
