// The forms of a kernel that is compiled for several instruction sets and picks one when it runs.
#pragma once

// The x86 forms (AVX2, AVX-512), compiled for those instruction sets and picked by what the
// processor reports at run time, exist where the compiler targets x86-64; on other processors a
// kernel has its portable forms alone, with the same bits.
#if defined(__x86_64__)
#define EVOCORE_X86_FORMS 1
#endif

struct FormTable {
    static constexpr int kMax = 4;
    int count = 0;                // forms compiled, widest first
    const char* name[kMax] = {};  // "avx512f", "avx2", "baseline" (the x86-64 baseline), "plain"
    bool supported[kMax] = {};    // this processor runs the form
    int picked = 0;               // the form the kernel runs here
};

// The table of `count` forms, form(f) giving the name and support of each: the kernel runs the
// first (the widest) that this processor supports.
template <class FormOf>
FormTable form_table(int count, FormOf form) {
    FormTable t;
    t.count = count;
    for (int f = 0; f < count; ++f) t.name[f] = form(f).name, t.supported[f] = form(f).supported;
    while (!t.supported[t.picked]) ++t.picked;
    return t;
}
