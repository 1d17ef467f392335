// What the modules of a process share about the dictionaries they watch (see watch.cpp).  It lives
// in the runtime library beside the team: one copy per process, whichever modules are loaded.
#pragma once

#include <atomic>
#include <cstdint>

#include "team.hpp"

namespace evo {

// The count of changes to every dictionary that a module watches: a value that a module took from
// such a dictionary while the count was c is still the dictionary's value while the count is c.
EVOCORE_RUNTIME_API std::atomic<std::uint64_t>& watched_changes() noexcept;

// The interpreter's watcher of those dictionaries: add() is called once per process, by the first
// module to ask, and its result (the watcher's id, or -1 when none could be added) is every
// module's answer.
EVOCORE_RUNTIME_API int dict_watcher(int (*add)()) noexcept;

}  // namespace evo
