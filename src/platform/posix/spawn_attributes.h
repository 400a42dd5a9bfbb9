// What every program peerserver starts is spared: the program blocks the
// termination signals for its own threads and ignores broken pipes, and a
// child must inherit neither.
#pragma once

#include <signal.h>
#include <spawn.h>

namespace platform {

class CleanSpawnAttributes {
 public:
  CleanSpawnAttributes() {
    ::posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~CleanSpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  CleanSpawnAttributes(const CleanSpawnAttributes&) = delete;
  CleanSpawnAttributes& operator=(const CleanSpawnAttributes&) = delete;

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace platform
