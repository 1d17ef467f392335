// Linked into every library of a wheel for older Linux (EVOCORE_PORTABLE), beside the C++ runtime
// that is linked in statically: what that runtime, built for the C library of the build machine,
// asks of the C library, in forms that older C libraries have.  Compiled without link-time
// optimisation: the linker resolves the runtime's references to these definitions.
#include <pthread.h>

// The oldest version of the C library's symbols on this architecture.
#if defined(__x86_64__)
#define EVOCORE_GLIBC_BASE "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define EVOCORE_GLIBC_BASE "GLIBC_2.17"
#else
#error "no base symbol version known for this architecture"
#endif

extern "C" {

// Since 2.32 the C library says in this variable whether the process is still single-threaded,
// and the C++ runtime then skips its locks.  This copy always says no: the runtime always takes
// the thread-safe path, which is right in any process.
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;

// Since 2.34 the thread functions live in the C library under a new version; the original
// version, which every C library since has kept, is used instead (the linker routes the
// runtime's calls here with --wrap, and the library needs libpthread.so.0, where older C
// libraries define them).
int evo_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int evo_pthread_detach(pthread_t);
__asm__(".symver evo_pthread_create, pthread_create@" EVOCORE_GLIBC_BASE);
__asm__(".symver evo_pthread_detach, pthread_detach@" EVOCORE_GLIBC_BASE);

__attribute__((visibility("hidden"))) int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                                               void* (*start)(void*), void* arg) {
    return evo_pthread_create(thread, attr, start, arg);
}
__attribute__((visibility("hidden"))) int __wrap_pthread_detach(pthread_t thread) {
    return evo_pthread_detach(thread);
}

// Since 2.29 pow has a version of its own (the same computation, without the old error
// handling); the original version, which later C libraries keep, computes the same bits.
double evo_pow(double, double);
__asm__(".symver evo_pow, pow@" EVOCORE_GLIBC_BASE);

__attribute__((visibility("hidden"))) double __wrap_pow(double x, double y) { return evo_pow(x, y); }

}  // extern "C"
