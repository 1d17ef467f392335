#include "forms.hpp"

#include <cstring>

namespace evo {

bool FormChoice::supported(int f) const noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (std::strcmp(names_[f], "avx512f") == 0) return __builtin_cpu_supports("avx512f");
    if (std::strcmp(names_[f], "avx2") == 0) return __builtin_cpu_supports("avx2");
#endif
    return f >= 0 && f < count_;
}

int FormChoice::resolve() const noexcept {
    int f = 0;
    while (f < count_ - 1 && !supported(f)) ++f;
    // Threads that resolve at once find the same form; a form picked meanwhile stays.
    int none = -1;
    return picked_.compare_exchange_strong(none, f, std::memory_order_relaxed) ? f : none;
}

}  // namespace evo
