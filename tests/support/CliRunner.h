// Runs the real skyfold-cli (SKYFOLD_CLI_PATH, given to the CLI tests by
// CMake) as a child process and captures its exit status, stdout and stderr.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/PanoramaTestImages.h"
#include "support/TempDir.h"

namespace skyfold::test {

struct CliResult {
  int status = -1;
  std::string out, err;
};

// s quoted for the shell.
inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadText(const std::string& fileName) {
  const std::vector<char> bytes = ReadBytes(fileName);
  return std::string(bytes.begin(), bytes.end());
}

// Runs the command line `shellArgs` (shell syntax) in folder cwd, or in the
// current folder when cwd is empty; the captured output goes through files
// in scratch.
inline CliResult RunCliLine(const TempDir& scratch, const std::string& shellArgs,
                            const std::string& cwd = "") {
  std::string command;
  if (!cwd.empty()) command = "cd " + ShellQuote(cwd) + " && ";
  const std::string out = scratch.file("stdout.txt"), err = scratch.file("stderr.txt");
  command += ShellQuote(SKYFOLD_CLI_PATH) + " " + shellArgs + " >" + ShellQuote(out) + " 2>" +
             ShellQuote(err);
  const int raw = std::system(command.c_str());
  CliResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadText(out);
  r.err = ReadText(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

// The same with each argument passed as it is.
inline CliResult RunCli(const TempDir& scratch, const std::vector<std::string>& args,
                        const std::string& cwd = "") {
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + ShellQuote(a);
  return RunCliLine(scratch, line, cwd);
}

}  // namespace skyfold::test
