#include "video/instruction_set.h"

#include <algorithm>

namespace krt {
namespace {

InstructionSet detectedInstructionSet() {
#if defined(__x86_64__) || defined(__i386__)
    using enum InstructionSet;
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512vbmi")) {
        return Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return Avx2;
    }
    if (__builtin_cpu_supports("ssse3")) {
        return Ssse3;
    }
#endif
    return InstructionSet::Plain;
}

}  // namespace

InstructionSet usableInstructionSet(InstructionSet ceiling) {
    static const InstructionSet detected = detectedInstructionSet();
    return std::min(ceiling, detected);
}

}  // namespace krt
