// The signals that end a run: at once before the store, held during it.
#pragma once

void install_signal_handlers();
[[noreturn]] void exit_on_signal(int signal_number);
void hold_signals();
