// Every Windows program's threads destroy their thread_local objects while
// the storage that holds them is still there.
//
// With MinGW, thread_local variables live in storage that libgcc frees as a
// thread ends, from a winpthreads key's destructor; libstdc++ destroys the
// objects from the destructor of a key of its own. winpthreads calls those
// destructors in the order the keys were made, and libgcc makes its key at
// the first thread_local access, which QApplication's constructor is. So a
// thread's objects were destroyed on freed storage: as the page thread ended,
// Qt's regular-expression stack freed a stray pointer, the fault was lost in
// the thread's exit, and the key lock it held made the program's exit wait
// for ever. Making libstdc++'s key before any other constructor runs puts the
// objects' destructors first.
#include <cxxabi.h>

namespace {

void nothing(void*) {}

// 101: the earliest priority a program may use, before every constructor of
// the default priority, Qt's among them.
__attribute__((constructor(101))) void makeThreadExitKeyFirst()
{
    // Registers nothing for the main thread; what matters is the key it makes.
    __cxxabiv1::__cxa_thread_atexit(nothing, nullptr, nullptr);
}

} // namespace
