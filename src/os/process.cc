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

ScopedProcess::ScopedProcess(Process& context) : previous_(current) {
  if (!context.out) context.out = &std::cout;
  if (!context.err) context.err = &std::cerr;
  current = &context;
}

ScopedProcess::~ScopedProcess() { current = previous_; }

}  // namespace sweeprun
