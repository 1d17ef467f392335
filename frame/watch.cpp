// The runtime library's record of the watched dictionaries: the count of their changes, which the
// watcher's callback (in whichever module added it) raises, and the watcher's id.
#include "watch.hpp"

#include <mutex>

namespace evo {

std::atomic<std::uint64_t>& watched_changes() noexcept {
    static std::atomic<std::uint64_t> changes{0};
    return changes;
}

int dict_watcher(int (*add)()) noexcept {
    static std::mutex lock;
    static int id = -2;  // not asked yet
    std::lock_guard<std::mutex> held(lock);
    if (id == -2) id = add();
    return id;
}

}  // namespace evo
