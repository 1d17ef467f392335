// The forms of a kernel that is compiled for several instruction sets: a list of (name, function)
// widest first, whose choice is resolved once per process into the function the calls run.
//
//   const Forms<Fn> kForms{
//   #ifdef EVOCORE_X86_FORMS
//       {"avx2", fn_avx2},
//   #endif
//       {"baseline", fn_baseline}};
//   ... kForms.fn()(args) ...
//
// "avx512f" and "avx2" run where the processor reports them; "baseline" (the x86-64 baseline, or
// the architecture's own) and "plain" (one entry at a time) run everywhere, with the same bits.
#pragma once

#include "../frame/forms.hpp"

#include <initializer_list>

// The x86 forms (AVX2, AVX-512), compiled for those instruction sets and picked by what the
// processor reports at run time, exist where the compiler targets x86-64; on other processors a
// kernel has its portable forms alone, with the same bits.
#if defined(__x86_64__)
#define EVOCORE_X86_FORMS 1
#endif

template <class Fn>
class Forms : public evo::FormChoice {
public:
    struct Form {
        const char* name;
        Fn fn;
    };
    constexpr Forms(std::initializer_list<Form> forms) {
        for (const Form& f : forms) {
            names_[count_] = f.name;
            fns_[count_++] = f.fn;
        }
    }
    // The function of the picked form, or of form f.
    Fn fn() const noexcept { return fns_[picked()]; }
    Fn fn(int f) const noexcept { return fns_[f]; }

private:
    Fn fns_[kMax] = {};
};
