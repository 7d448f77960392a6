// A time limit for every test, and the cleaning up of what a test leaves when
// it overruns it: a fault that makes a run loop fails in seconds, and its
// child processes and scratch files go with it.
#ifndef INIT_BICLUSTER_TESTS_TEST_WATCHDOG_H_
#define INIT_BICLUSTER_TESTS_TEST_WATCHDOG_H_

#include <sys/types.h>

#include <string>

namespace init_bicluster::test_watchdog {

// Seconds a test may take unless it asks for more, before the scale.
constexpr int k_default_seconds = 10;

// Starts watching the tests of this process and makes the scratch folder,
// after removing those that test processes which died left behind.
// Each test gets k_default_seconds, times the factor in the environment
// variable INIT_BICLUSTER_TEST_TIME_SCALE (for slow builds: sanitizers,
// emulators). A test that overruns is reported, its watched process groups
// are killed, the scratch folder is removed and the process exits with 1.
// Call once, before the tests run.
void start();

// The test `name` starts, and its time with it; it has ended.
void begin_test(const std::string& name);
void end_test();

// Removes the scratch folder once the tests have run.
void finish();

// A folder of this process's own, removed when the tests end however they
// end, which every user may enter; "/tmp" when the watchdog is not started.
const std::string& scratch_folder();

// Lets the running test take `seconds` (times the scale) from its start
// instead of the default. For tests whose normal time is more than a second.
void allow_seconds(int seconds);

// Kills the process group `group` when the running test overruns its limit,
// until `unwatch` is called with it. At most a few groups at once.
void watch(pid_t group);
void unwatch(pid_t group);

}  // namespace init_bicluster::test_watchdog

#endif  // INIT_BICLUSTER_TESTS_TEST_WATCHDOG_H_
