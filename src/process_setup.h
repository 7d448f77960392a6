// What the process sets up before a run, so that no failure can touch the
// wrong file or end the run without a word.
#ifndef INIT_BICLUSTER_PROCESS_SETUP_H_
#define INIT_BICLUSTER_PROCESS_SETUP_H_

namespace init_bicluster {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file the run opens can take a standard stream's place (and receive
// its messages); ignores SIGXFSZ, so that a file-size limit is reported as a
// failed write instead of ending the process. SIGPIPE keeps its default: a
// reader that stops early ends the tool quietly, as it ends cat.
void prepare_process();

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_PROCESS_SETUP_H_
