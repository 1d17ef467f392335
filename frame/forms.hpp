// The forms of a kernel: one function compiled for several instruction sets, of which the
// processor's widest runs.  What a module reports of its kernels' forms and lets a test or the
// benchmark choose, through its private entry `_forms`; the kernels define the forms themselves.
#pragma once

#include <atomic>

namespace evo {

// One kernel's forms, widest first, and the one its calls run.
class FormChoice {
public:
    static constexpr int kMax = 4;

    int count() const noexcept { return count_; }
    const char* name(int f) const noexcept { return names_[f]; }
    // Whether this processor runs form f: the x86 forms by what it reports, the others always.
    bool supported(int f) const noexcept;
    // The form the calls run: resolved once per process, on first use, to the widest supported.
    int picked() const noexcept {
        const int f = picked_.load(std::memory_order_relaxed);
        return f >= 0 ? f : resolve();
    }
    // Later calls run form f, which this processor must support; false (nothing changed) if not.
    bool pick(int f) noexcept {
        if (f < 0 || f >= count_ || !supported(f)) return false;
        picked_.store(f, std::memory_order_relaxed);
        return true;
    }

protected:
    constexpr FormChoice() = default;
    const char* names_[kMax] = {};
    int count_ = 0;

private:
    int resolve() const noexcept;
    mutable std::atomic<int> picked_{-1};
};

// A module's kernels with forms, by the names `_forms` reports them under.
struct KernelForms {
    const char* kernel;
    FormChoice& (*forms)();
};

}  // namespace evo
