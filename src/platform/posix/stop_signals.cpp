// SIGINT, SIGTERM and SIGHUP as a request to stop: the handler records the first one and writes a
// byte into a pipe (the only things it may safely do), and the run polls the record.
#include "platform/posix/stop_signals.h"

#include "base/exit_status.h"
#include "platform/platform.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quarvel::platform {

namespace {

// Module-level because a signal handler reaches nothing else.
volatile std::sig_atomic_t pendingSignal = 0;
volatile std::sig_atomic_t endAtOnce = 0;
int wakeup[2] = {-1, -1};  // read end, write end; non-blocking, so the handler never waits

extern "C" void onStopSignal(int signalNumber) {
    if (endAtOnce != 0) _exit(exitOnSignal(signalNumber));
    if (pendingSignal == 0) pendingSignal = signalNumber;
    const int savedErrno = errno;
    // a full pipe is as readable as one with a single byte in it
    [[maybe_unused]] const ssize_t written = write(wakeup[1], "s", 1);
    errno = savedErrno;
}

}  // namespace

void catchStopSignals() {
    static std::atomic<bool> caught{false};
    if (caught.exchange(true)) return;
    if (pipe2(wakeup, O_CLOEXEC | O_NONBLOCK) != 0) wakeup[0] = wakeup[1] = -1;

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // restarted system calls: the libraries underneath (X, audio, GL) need not see EINTR, and
    // every loop of the program looks at the request or at the pipe
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

int stopSignalDescriptor() {
    return wakeup[0];
}

void setStopSignalsEndAtOnce(bool value) {
    endAtOnce = value ? 1 : 0;
}

int stopSignal() {
    return pendingSignal;
}

}  // namespace quarvel::platform
