#include "tool/signals.h"

#include <unistd.h>

#include <csignal>

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP};

[[noreturn]] void exit_on_signal(int signal_number)
{
    (void)signal_number;
    _exit(1);
}

}  // namespace

void install_signal_handlers()
{
    for (int number : ENDING_SIGNALS) {
        signal(number, exit_on_signal);
    }
}

// Once the card is asked to store, the run goes to its end, so that its
// exit status and both copies of its result record tell what the card did;
// a signal that comes meanwhile is never delivered, and the process ends
// with its own status.
void hold_signals()
{
    sigset_t held;
    sigemptyset(&held);
    for (int number : ENDING_SIGNALS) {
        sigaddset(&held, number);
    }
    sigprocmask(SIG_BLOCK, &held, nullptr);
}
