#include "process_setup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace init_bicluster {

void prepare_process() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) >= 0) continue;
    // The lowest free descriptor is the closed one; a second open fills the
    // next closed one in the next round.
    const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
    if (opened > 2) close(opened);
  }
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace init_bicluster
