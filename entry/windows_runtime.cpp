// What the Windows build of the module does while the DLL loads, beyond what
// the language runtime does by itself.
//
// That runtime keeps each thread's exception state in emulated thread-local
// storage, which it makes with malloc at the thread's first throw, and it
// aborts the process when that malloc fails. A copy or paste that runs out of
// memory ends in std::bad_alloc, so the first throw must not need memory: one
// exception is thrown and caught here, on the thread that loads the DLL,
// which is the interface thread Layout then runs the commands on.
namespace {

bool MakeExceptionStateNow() {
    try {
        throw 0;
    } catch (int) {
        return true;
    }
}

[[maybe_unused]] const bool exceptionStateMade = MakeExceptionStateNow();

}  // namespace
