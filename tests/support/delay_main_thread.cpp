// Preloaded into the real program by tst_startup. Right after the main thread
// has started its first other thread, it holds the main thread for a while,
// so that whatever that thread does before the application object exists
// always wins the race instead of winning it now and then.
#include <atomic>
#include <ctime>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    static std::atomic_bool held{false};

    const int result = next(thread, attributes, start, argument);
    if (result == 0 && gettid() == getpid() && !held.exchange(true)) {
        timespec pause{0, 300'000'000};
        while (nanosleep(&pause, &pause) != 0) {
        }
    }
    return result;
}
