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

// The forms of a kernel compiled for AVX2 and for the x86-64 baseline: form 0 is the AVX2
// function when it was compiled (not null), the last is the baseline one.  forms(f) gives form
// f's name, whether this processor runs it, and the function.
template <class Fn>
struct Avx2OrBaseline {
    Fn avx2, baseline;

    struct Form {
        const char* name;
        bool supported;
        Fn fn;
    };
    int count() const { return avx2 != nullptr ? 2 : 1; }
    Form operator()(int f) const {
#ifdef EVOCORE_X86_FORMS
        if (f == 0 && avx2 != nullptr) {
            __builtin_cpu_init();
            return {"avx2", (bool)__builtin_cpu_supports("avx2"), avx2};
        }
#endif
        (void)f;
        return {"baseline", true, baseline};
    }
    FormTable table() const { return form_table(count(), *this); }
};
