#include "os/process.h"

#include <iostream>

namespace sweeprun {

namespace {

Process& defaultProcess() {
  static Process* context = [] {
    auto* p = new Process();
    p->out = &std::cout;
    p->err = &std::cerr;
    return p;
  }();
  return *context;
}

Process* current = nullptr;

}  // namespace

Process& process() { return current ? *current : defaultProcess(); }

ScopedProcess::ScopedProcess(Process& context)
    : previous_(current),
      // Asked at each message: the entry points and tests name the stream
      // after installing the context, too.
      previousEcho_(setSystemLogEcho([&context] { return context.err; })) {
  if (!context.out) context.out = &std::cout;
  if (!context.err) context.err = &std::cerr;
  current = &context;
}

ScopedProcess::~ScopedProcess() {
  current = previous_;
  setSystemLogEcho(std::move(previousEcho_));
}

}  // namespace sweeprun
