// ShowErrorMessage: the one way the core tells the user about a validation
// failure. The core only calls a replaceable sink: the window installs one
// that shows a modal box (caption "エラー", error icon, one OK button), the
// CLI one that prints to stderr, tests one that records the texts.
#pragma once

#include <functional>
#include <string>

namespace skyfold {

using ErrorMessageSink = std::function<void(const std::string& text)>;

// Shows Text through the current sink (stderr when none is installed).
void ShowErrorMessage(const std::string& text);

// Installs a sink and returns the previous one.
ErrorMessageSink SetErrorMessageSink(ErrorMessageSink sink);

// Installs a sink for the lifetime of this object (tests, nested runs).
class ScopedErrorMessageSink {
 public:
  explicit ScopedErrorMessageSink(ErrorMessageSink sink)
      : previous_(SetErrorMessageSink(std::move(sink))) {}
  ~ScopedErrorMessageSink() { SetErrorMessageSink(std::move(previous_)); }
  ScopedErrorMessageSink(const ScopedErrorMessageSink&) = delete;
  ScopedErrorMessageSink& operator=(const ScopedErrorMessageSink&) = delete;

 private:
  ErrorMessageSink previous_;
};

}  // namespace skyfold
