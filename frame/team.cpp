// The thread team across fork().
//
// A forked child has only the thread that called fork(), but the OpenMP runtime of the parent
// still lists the workers of its thread pool; the child's first parallel region would wait for
// them for ever.  Before every fork the calling thread's pool is therefore released (its workers
// exit), so that a child starts a team of its own, and the parent a new one at its next parallel
// region.  The pool of a thread other than the forking one does not reach the child.  Every
// module with a thread team carries this; releasing an absent pool does nothing.
#include <omp.h>
#include <pthread.h>

namespace {

void release_team() { omp_pause_resource_all(omp_pause_hard); }

const int registered = pthread_atfork(release_team, nullptr, nullptr);

}  // namespace
