// The C++ runtime support that the two programs need, in place of
// libstdc++'s. The library's operator new and its std::__throw_* helpers
// raise exceptions, which drags the unwinder, the exception classes and the
// demangler into a statically linked program: about 100 KiB on MIPS for
// code that can never run here. The programs treat allocation failure as
// fatal and are built without exceptions, so each of these aborts instead.
// Linked into the programs only; tests keep the real library.
#include <bits/functexcept.h>
#include <stdlib.h>

#include <new>

namespace {

[[noreturn]] void fatal() { abort(); }

void* allocate(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    fatal();
  }
  return block;
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size == 0 ? 1 : size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size == 0 ? 1 : size); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }

extern "C" void __cxa_pure_virtual() { fatal(); }

// Every helper of <bits/functexcept.h> is defined, so that no object of the
// library that defines them is ever pulled in beside these.
namespace std {
void __throw_bad_exception() { fatal(); }
void __throw_bad_alloc() { fatal(); }
void __throw_bad_array_new_length() { fatal(); }
void __throw_bad_cast() { fatal(); }
void __throw_bad_typeid() { fatal(); }
void __throw_logic_error(const char*) { fatal(); }
void __throw_domain_error(const char*) { fatal(); }
void __throw_invalid_argument(const char*) { fatal(); }
void __throw_length_error(const char*) { fatal(); }
void __throw_out_of_range(const char*) { fatal(); }
void __throw_out_of_range_fmt(const char*, ...) { fatal(); }
void __throw_runtime_error(const char*) { fatal(); }
void __throw_range_error(const char*) { fatal(); }
void __throw_overflow_error(const char*) { fatal(); }
void __throw_underflow_error(const char*) { fatal(); }
void __throw_ios_failure(const char*) { fatal(); }
void __throw_ios_failure(const char*, int) { fatal(); }
void __throw_system_error(int) { fatal(); }
void __throw_future_error(int) { fatal(); }
void __throw_bad_function_call() { fatal(); }
}  // namespace std
