// Runs a piece of a test in a forked child process whose address space is
// limited (RLIMIT_AS) and which is killed by an alarm if it does not finish:
// a decoder that tries to allocate gigabytes fails there instead of in the
// test process, and one that blocks is reported instead of hanging the
// suite. The child hands a text back through a pipe.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

namespace skyfold::test {

struct ChildOutcome {
  bool finished = false;  // exited by itself
  bool timedOut = false;  // killed by the alarm
  std::string text;       // what the body returned
};

// ASan reserves terabytes of address space: no limit can be set under it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceLimitWorks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSpaceLimitWorks = false;
#else
inline constexpr bool kAddressSpaceLimitWorks = true;
#endif
#else
inline constexpr bool kAddressSpaceLimitWorks = true;
#endif

inline ChildOutcome RunInChild(const std::function<std::string()>& body,
                               std::uint64_t addressSpaceBytes = std::uint64_t{1} << 30,
                               unsigned seconds = 20) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (kAddressSpaceLimitWorks) {
      const rlimit limit{addressSpaceBytes, addressSpaceBytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    signal(SIGALRM, SIG_DFL);
    alarm(seconds);
    std::string text;
    try {
      text = body();
    } catch (...) {
      text = "(exception escaped)";
    }
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  ChildOutcome outcome;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    outcome.text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    outcome.finished = WIFEXITED(status);
    outcome.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  }
  return outcome;
}

}  // namespace skyfold::test
