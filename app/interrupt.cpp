#include "app/interrupt.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kartex {

namespace {

volatile std::sig_atomic_t caught_signal = 0;

#ifdef SIGHUP
constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int SIGNALS[] = {SIGINT, SIGTERM};
#endif
constexpr int SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];

// Fixed storage the handler can read without allocating: a path is copied
// in before its slot is marked used.
constexpr int CLEANUP_SLOTS = 4;
constexpr std::size_t CLEANUP_PATH_MAX = 4096;
char cleanup_paths[CLEANUP_SLOTS][CLEANUP_PATH_MAX];
volatile std::sig_atomic_t cleanup_used[CLEANUP_SLOTS] = {};

void remove_registered_files() {
  for (int i = 0; i < CLEANUP_SLOTS; ++i)
    if (cleanup_used[i]) {
#ifdef _WIN32
      std::remove(cleanup_paths[i]);
#else
      ::unlink(cleanup_paths[i]);
#endif
    }
}

extern "C" void on_signal(int sig) {
  if (caught_signal == 0) {
    caught_signal = sig;
#ifdef _WIN32
    std::signal(sig, on_signal);  // the C runtime resets the handler
#endif
    return;
  }
  remove_registered_files();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

#ifdef _WIN32
using Handler = void (*)(int);
Handler previous[SIGNAL_COUNT];
#else
struct sigaction previous[SIGNAL_COUNT];
#endif

}  // namespace

InterruptCatcher::InterruptCatcher() {
  caught_signal = 0;
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
#ifdef _WIN32
    previous[i] = std::signal(SIGNALS[i], on_signal);
    if (previous[i] == SIG_ERR) previous[i] = SIG_DFL;
#else
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    // Transfers and waits go on after the handler; the stop is looked at
    // between them.
    action.sa_flags = SA_RESTART;
    sigaction(SIGNALS[i], &action, &previous[i]);
#endif
  }
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
#ifdef _WIN32
    std::signal(SIGNALS[i], previous[i]);
#else
    sigaction(SIGNALS[i], &previous[i], nullptr);
#endif
  }
}

bool InterruptCatcher::caught() { return caught_signal != 0; }

int InterruptCatcher::signal_number() { return caught_signal; }

void ignore_broken_pipes() {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

int register_cleanup(const char* path) {
  if (std::strlen(path) >= CLEANUP_PATH_MAX) return -1;
  for (int i = 0; i < CLEANUP_SLOTS; ++i)
    if (!cleanup_used[i]) {
      std::memcpy(cleanup_paths[i], path, std::strlen(path) + 1);
      cleanup_used[i] = 1;
      return i;
    }
  return -1;
}

void unregister_cleanup(int slot) {
  if (slot >= 0 && slot < CLEANUP_SLOTS) cleanup_used[slot] = 0;
}

}  // namespace kartex
