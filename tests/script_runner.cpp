// Runs one expectation script with `brova --run` and checks what it printed.
//   // expect: TEXT                 the next expected stdout line
//   // expect error: TEXT           exit 1 (did not compile), TEXT among the messages
//   // expect runtime error: TEXT   exit 2 (stopped by a runtime error), TEXT among the messages
//   // expect message: TEXT         TEXT among the messages (warnings), whatever the exit status
//   // args: ARG ...                further command-line arguments for the run
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

bool TakeAfter(const std::string& line, const std::string& marker, std::string& rest) {
  size_t at = line.find(marker);
  if (at == std::string::npos) return false;
  rest = line.substr(at + marker.size());
  return true;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: script_runner BROVA HOME SCRIPT\n");
    return 2;
  }
  const std::string brova = argv[1], home = argv[2], script = argv[3];

  std::vector<std::string> expectOut, expectMessages, extraArgs;
  int expectExit = 0;
  for (const std::string& line : SplitLines(ReadAll(script))) {
    std::string rest;
    if (TakeAfter(line, "// expect runtime error: ", rest)) {
      expectExit = 2;
      expectMessages.push_back(rest);
    } else if (TakeAfter(line, "// expect error: ", rest)) {
      expectExit = 1;
      expectMessages.push_back(rest);
    } else if (TakeAfter(line, "// expect message: ", rest)) {
      expectMessages.push_back(rest);
    } else if (TakeAfter(line, "// expect: ", rest)) {
      expectOut.push_back(rest);
    } else if (line.find("// expect:") != std::string::npos) {
      expectOut.emplace_back(); // an expected empty line
    } else if (TakeAfter(line, "// args: ", rest)) {
      std::istringstream words(rest);
      for (std::string w; words >> w;) extraArgs.push_back(w);
    }
  }

  char outName[] = "/tmp/brova-script-out-XXXXXX";
  char errName[] = "/tmp/brova-script-err-XXXXXX";
  int outFd = mkstemp(outName), errFd = mkstemp(errName);
  if (outFd < 0 || errFd < 0) {
    std::perror("mkstemp");
    return 2;
  }

  std::vector<std::string> args = {brova, "--run", script, "--home", home};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, outFd, 1);
  posix_spawn_file_actions_adddup2(&fa, errFd, 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid;
  int spawned = posix_spawn(&pid, brova.c_str(), &fa, nullptr, cargs.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (spawned != 0) {
    std::perror("posix_spawn");
    return 2;
  }
  int status = 0;
  // A hung script must fail the test, not the whole run.
  for (int waited = 0;; waited += 10) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (waited >= 120000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      std::fprintf(stderr, "FAIL: %s did not end within 120 s\n", script.c_str());
      return 1;
    }
    usleep(10000);
  }
  close(outFd);
  close(errFd);
  std::string out = ReadAll(outName), err = ReadAll(errName);
  unlink(outName);
  unlink(errName);

  bool ok = true;
  if (!WIFEXITED(status)) {
    std::fprintf(stderr, "FAIL: killed by signal %d\n", WTERMSIG(status));
    ok = false;
  } else if (WEXITSTATUS(status) != expectExit) {
    std::fprintf(stderr, "FAIL: exit status %d, expected %d\n", WEXITSTATUS(status), expectExit);
    ok = false;
  }
  std::vector<std::string> got = SplitLines(out);
  if (got != expectOut) {
    ok = false;
    std::fprintf(stderr, "FAIL: stdout differs\n");
    size_t n = std::max(got.size(), expectOut.size());
    for (size_t i = 0; i < n; ++i) {
      const char* g = i < got.size() ? got[i].c_str() : "<none>";
      const char* e = i < expectOut.size() ? expectOut[i].c_str() : "<none>";
      std::fprintf(stderr, "  %s line %zu: got [%s] expected [%s]\n",
                   (i < got.size() && i < expectOut.size() && got[i] == expectOut[i]) ? "  " : "!!",
                   i + 1, g, e);
    }
  }
  for (const std::string& m : expectMessages) {
    if (err.find(m) == std::string::npos) {
      std::fprintf(stderr, "FAIL: message not shown: %s\n", m.c_str());
      ok = false;
    }
  }
  if (!ok) std::fprintf(stderr, "--- stderr ---\n%s", err.c_str());
  return ok ? 0 : 1;
}
