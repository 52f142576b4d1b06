// fork() and the layer's own locks: a child must never find a lock held by a
// thread that does not exist there.
#pragma once

#include <mutex>

namespace nlplatform {

// fork() takes the mutex before the process is copied, after every critical
// section and SRW lock registered through the public interface, and frees it
// in both processes afterwards. For the layer's leaf mutexes: never held
// while waiting for another lock.
void KeepMutexAcrossFork(std::mutex& mutex);

// The same for a mutex that may be held across calls while its holder takes
// the layer's leaf mutexes (a registry connection lent for a snapshot): fork()
// takes it before them.
void KeepOuterMutexAcrossFork(std::mutex& mutex);

}  // namespace nlplatform
