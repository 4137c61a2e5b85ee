#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace sweeprun {

/// The moment a walk through one entry's tree stops, |limit| after it began.
/// A default one never passes.
class TreeDeadline {
 public:
  using Clock = std::chrono::steady_clock;

  TreeDeadline() = default;
  explicit TreeDeadline(std::chrono::seconds limit) : limit_(limit), end_(Clock::now() + limit) {}

  bool passed() const { return end_ && Clock::now() >= *end_; }

  /// "operation(path): took longer than N s, stopped; |outcome|", for the
  /// entry at |path| whose walk passed the deadline.
  std::string passedText(const char* operation, const std::string& path,
                         const char* outcome) const {
    return std::string(operation) + "(" + path + "): took longer than " +
           std::to_string(limit_.count()) + " s, stopped; " + outcome;
  }

 private:
  std::chrono::seconds limit_{0};
  std::optional<Clock::time_point> end_;
};

}  // namespace sweeprun
