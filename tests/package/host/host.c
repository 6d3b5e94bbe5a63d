/* Loads the module by the path that Mirrowen::Mirrowen or the pkg-config file names, binds
 * Mirrowen and makes one call that the module refuses before it touches anything: enough to prove
 * that header, package and module fit together. */
#include <dlfcn.h>
#include <stdio.h>

#include <mirrowen.h>

int main(void) {
    void* module = dlopen(MIRROWEN_MODULE, RTLD_NOW);
    if (module == NULL) {
        fprintf(stderr, "host: %s\n", dlerror());
        return 1;
    }
    MirrowenFunction mirrowen;
    *(void**)&mirrowen = dlsym(module, "Mirrowen");
    if (mirrowen == NULL) {
        fprintf(stderr, "host: %s exports no Mirrowen\n", MIRROWEN_MODULE);
        return 1;
    }
    char folder[] = "unused-folder";
    int32_t stopFlag = 7;
    int32_t fileCount = 7;
    /* A one-byte adapter name is refused, and the two integers are left untouched. */
    const int32_t result = mirrowen("x", NULL, folder, &stopFlag, &fileCount);
    dlclose(module);
    if (result != ResultRefused || stopFlag != 7 || fileCount != 7) {
        fprintf(stderr, "host: result %d, stop flag %d, file count %d\n", (int)result,
                (int)stopFlag, (int)fileCount);
        return 1;
    }
    printf("host: the module at %s answered\n", MIRROWEN_MODULE);
    return 0;
}
