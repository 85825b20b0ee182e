// The signals that end a run: at once before the store, held during it.
#pragma once

void install_signal_handlers();
void hold_signals();
