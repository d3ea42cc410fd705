// Calls an exported function by pushing its arguments by hand and measures
// how far the stack pointer moved across the call: zero for a stdcall callee,
// which pops its own arguments (a cdecl one leaves them: -4 per argument).
#pragma once

#include <cstdint>

#if defined(__i386__)
#define TAMBREL_PROBE_STACK 1

struct ProbeResult {
  uint32_t eax;
  int32_t espMoved;
};

// args[0] is the first (leftmost) argument; pushed right to left.
__attribute__((noinline)) inline ProbeResult ProbeCall(void* fn, const uint32_t* args, uint32_t count) {
  ProbeResult r;
  uint32_t counter = count;  // in: arguments to push; out: bytes the stack moved
  __asm__ volatile(
      "movl %%esp, %%edi\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "decl %%ecx\n\t"
      "pushl (%%esi,%%ecx,4)\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%%edx\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%edi, %%ecx\n\t"
      "movl %%edi, %%esp\n\t"
      : "=a"(r.eax), "+c"(counter), "+S"(args), "+d"(fn)
      :
      : "edi", "memory", "cc");
  r.espMoved = static_cast<int32_t>(counter);
  return r;
}

inline uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
inline uint32_t Arg(int v) { return static_cast<uint32_t>(v); }
#endif
