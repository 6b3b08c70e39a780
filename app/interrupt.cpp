#include "app/interrupt.h"

#include <csignal>

namespace kartex {

namespace {

volatile std::sig_atomic_t interrupted = 0;
using Handler = void (*)(int);
Handler previous = SIG_DFL;

extern "C" void on_interrupt(int) {
  interrupted = 1;
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  interrupted = 0;
  previous = std::signal(SIGINT, on_interrupt);
  if (previous == SIG_ERR) previous = SIG_DFL;
}

InterruptCatcher::~InterruptCatcher() { std::signal(SIGINT, previous); }

bool InterruptCatcher::caught() { return interrupted != 0; }

}  // namespace kartex
