#pragma once

namespace krt {

// The widest vector instructions that pixel code may use; the processor may offer fewer. A
// kernel gives the same bytes whichever it uses; the frame decoder also picks its path by them.
enum class InstructionSet { Plain, Ssse3, Avx2, Avx512 };

// The widest set this processor offers, up to `ceiling`. Avx512 stands for the byte and word
// instructions at every vector width, with byte permutes (AVX-512 BW, VL and VBMI).
InstructionSet usableInstructionSet(InstructionSet ceiling = InstructionSet::Avx512);

// The target of code built for Avx512: the instructions that usableInstructionSet() checks for.
#define KRT_AVX512 "avx512f,avx512bw,avx512vl,avx512vbmi"

}  // namespace krt
