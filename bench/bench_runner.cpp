// Side-by-side benchmark: each workload runs as a `brova --run` script and as an equivalent
// Lua 5.4 script, alternately, and the medians are compared once start-up (an empty script's
// run on the same side) is taken off. Prints markdown tables on stdout, progress on stderr.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: bench_runner [options]\n"
    "  --root DIR             repository root holding bench/ and kernel/ (default: .)\n"
    "  --brova PATH           the player (default: ROOT/build-release/brova)\n"
    "  --lua PATH             the Lua 5.4 interpreter (default: lua5.4)\n"
    "  --reps N               repetitions of every run (default: 5)\n"
    "  --only A,B,...         run only these workloads\n"
    "  --timeout SEC          a run still going after SEC seconds is killed (default: 600)\n"
    "  --home DIR             program folder to use instead of a fresh temporary copy of\n"
    "                         ROOT/kernel (its Temp/c124_* cache files get deleted)\n"
    "  --compile-methods N    methods in the generated class of the compile workload\n"
    "                         (default: 10000)\n"
    "  --ours-cmd TEMPLATE    our side's command (default:\n"
    "                         \"{exe} --run {brova} --home {home} --stack 1048576\")\n"
    "  --frame-cmd TEMPLATE   first-frame command (default:\n"
    "                         \"{exe} --headless --frames 1 --home {home}\")\n"
    "  --clock wall|cpu       time a run by the wall clock (default) or by the user and\n"
    "                         system time of the child, steadier on a busy machine\n"
    "  --keep                 keep the temporary folder and print its path\n"
    "Templates are split at blanks; {exe}, {brova}, {lua} and {home} are replaced in each word\n"
    "by the player, the workload's .brova and .lua scripts and the program folder. A stand-in\n"
    "such as --ours-cmd \"lua5.4 {lua}\" checks the harness without the player.\n";

// Each workload but compile is bench/scripts/NAME.brova against bench/scripts/NAME.lua.
struct WorkloadInfo {
  const char* name;
  const char* what;
};
const WorkloadInfo kWorkloads[] = {
    {"fib", "recursive calls, fib(27) x 40"},
    {"loops", "nested integer loops, 7000 x 7000"},
    {"fields", "object field reads and writes, 10M"},
    {"dispatch", "method calls on two classes at one site, 10M"},
    {"strings", "string building, 3M pieces"},
    {"arrays", "array add, get, for-in over 1M, x 15"},
    {"hash", "hash put and get of 200 000 keys, x 20"},
    {"pools", "create and drop 1M objects, x 4"},
    {"sieve", "sieve over an array of 2M, x 4"},
    {"compile", "compile a generated class, no cache"},
};

struct Options {
  fs::path root = ".";
  std::string brova;
  std::string lua = "lua5.4";
  int reps = 5;
  std::vector<std::string> only;
  double timeout = 600;
  std::string home;
  int compileMethods = 10000;
  std::string oursCmd = "{exe} --run {brova} --home {home} --stack 1048576";
  std::string frameCmd = "{exe} --headless --frames 1 --home {home}";
  bool cpuClock = false;
  bool keep = false;
};

struct RunResult {
  double seconds = 0;     // wall clock
  double cpuSeconds = 0;  // user + system time of the child
  long maxRssKb = 0;
  bool started = false;
  bool timedOut = false;
  int exitCode = -1;  // valid when the child exited
  int signal = 0;     // the signal that ended it, else 0
  std::string out;
  std::string err;

  bool Ok() const { return started && !timedOut && signal == 0 && exitCode == 0; }
  std::string Failure() const {
    if (!started) return "did not start";
    if (timedOut) return "timed out";
    if (signal != 0) return "killed by signal " + std::to_string(signal);
    if (exitCode == 127 && !err.empty() && err.rfind("exec:", 0) == 0) return "could not run";
    return "exit " + std::to_string(exitCode);
  }
};

volatile sig_atomic_t gChild = 0;
volatile sig_atomic_t gTimedOut = 0;

void OnAlarm(int) {
  if (gChild > 0) {
    gTimedOut = 1;
    kill(-gChild, SIGKILL);
  }
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) {
    std::fprintf(stderr, "bench_runner: cannot write %s\n", path.c_str());
    std::exit(2);
  }
}

// Line ends are compared without a carriage return, so a CRLF writer still agrees.
std::string Normalize(const std::string& text) {
  std::string r;
  r.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    r.push_back(text[i]);
  }
  return r;
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Runs argv in dir with stdin from /dev/null and both outputs in files, in a process group of
// its own so a timeout kills everything it started.
RunResult Run(const std::vector<std::string>& argv, const fs::path& dir, const fs::path& scratch,
              double timeout) {
  RunResult r;
  const fs::path outPath = scratch / "stdout", errPath = scratch / "stderr";
  std::vector<char*> cargv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);

  const double start = Now();
  pid_t pid = fork();
  if (pid < 0) {
    r.err = std::string("fork: ") + std::strerror(errno);
    return r;
  }
  if (pid == 0) {
    setpgid(0, 0);
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(dir.c_str()) != 0) {
      dprintf(2, "exec: cannot enter %s\n", dir.c_str());
      _exit(127);
    }
    execvp(cargv[0], cargv.data());
    dprintf(2, "exec: %s: %s\n", cargv[0], std::strerror(errno));
    _exit(127);
  }
  setpgid(pid, pid);
  r.started = true;
  gTimedOut = 0;
  gChild = pid;
  itimerval timer{};
  timer.it_value.tv_sec = time_t(timeout);
  timer.it_value.tv_usec = suseconds_t((timeout - double(time_t(timeout))) * 1e6);
  setitimer(ITIMER_REAL, &timer, nullptr);

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  r.seconds = Now() - start;
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  gChild = 0;
  r.timedOut = gTimedOut != 0;
  // Whatever the child left behind in its group goes with it.
  kill(-pid, SIGKILL);

  r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  r.maxRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  r.out = Normalize(ReadFile(outPath));
  r.err = ReadFile(errPath);
  return r;
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Paths {
  std::string exe, brova, lua, home;
};

std::vector<std::string> Expand(const std::string& tmpl, const Paths& p) {
  std::vector<std::string> argv;
  for (std::string w : SplitWords(tmpl)) {
    w = ReplaceAll(w, "{exe}", p.exe);
    w = ReplaceAll(w, "{brova}", p.brova);
    w = ReplaceAll(w, "{lua}", p.lua);
    w = ReplaceAll(w, "{home}", p.home);
    argv.push_back(w);
  }
  return argv;
}

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One side's repetitions of one script.
struct Series {
  std::vector<RunResult> runs;

  bool Ok() const {
    return !runs.empty() &&
           std::all_of(runs.begin(), runs.end(), [](const RunResult& r) { return r.Ok(); });
  }
  // Every repetition printed what the first did.
  bool Steady() const {
    return std::all_of(runs.begin(), runs.end(),
                       [&](const RunResult& r) { return r.out == runs.front().out; });
  }
  std::string Failure() const {
    for (const RunResult& r : runs)
      if (!r.Ok()) return r.Failure();
    return "";
  }
  double MedianSeconds(bool cpu) const {
    std::vector<double> t;
    for (const RunResult& r : runs) t.push_back(cpu ? r.cpuSeconds : r.seconds);
    return Median(t);
  }
  double MaxRssMiB() const {
    long kb = 0;
    for (const RunResult& r : runs) kb = std::max(kb, r.maxRssKb);
    return double(kb) / 1024.0;
  }
};

struct Workload {
  std::string name;
  std::string what;
  fs::path brova, lua;
  bool coldCache = false;  // the compile workload: no compiled-class file may be there
};

// Deletes the compiled-class cache files of the program folder.
void EmptyCache(const fs::path& home) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(home / "Temp", ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("c124_", 0) == 0) fs::remove(e.path(), ec);
  }
}

// The compile workload's sources: N methods of one shape, a class on our side and a chunk on
// Lua's that big.lua reads as text and hands to load.
void GenerateCompileWorkload(const fs::path& dir, int methods) {
  std::string brova, chunk;
  brova.reserve(size_t(methods) * 220);
  chunk.reserve(size_t(methods) * 200);
  brova += "// Generated: " + std::to_string(methods) + " methods of one shape.\n";
  chunk += "local M = {}\n";
  for (int k = 0; k < methods; ++k) {
    const std::string m = "m" + std::to_string(k), c = std::to_string(k % 997 + 1);
    brova += "function " + m + "(a, b) {\n  var t, i;\n  t = a * " + c +
             " + b;\n  for (i = 0; i < 3; i++) {\n    if (t % 2 == 0) t = t + i;\n"
             "    else t = t - 1;\n  }\n  while (t > 1000) t = t - 1000;\n  return t;\n}\n";
    chunk += "function M." + m + "(a, b)\n  local t = a * " + c +
             " + b\n  for i = 0, 2 do\n    if t % 2 == 0 then t = t + i\n"
             "    else t = t - 1 end\n  end\n  while t > 1000 do t = t - 1000 end\n  return t\n"
             "end\n";
  }
  chunk += "return M\n";
  const std::string last = "m" + std::to_string(methods - 1);
  brova += "print(m0(1, 2));\nprint(" + last + "(3, 4));\n";
  WriteFile(dir / "big.brova", brova);
  WriteFile(dir / "bigchunk.txt", chunk);
  WriteFile(dir / "big.lua",
            "-- Loads the generated chunk from text, then calls two of its functions.\n"
            "local path = arg[0]:gsub(\"big%.lua$\", \"bigchunk.txt\")\n"
            "local f = assert(io.open(path, \"rb\"))\n"
            "local src = f:read(\"a\")\n"
            "f:close()\n"
            "local M = assert(load(src, \"=bigchunk\"))()\n"
            "print(M.m0(1, 2))\n"
            "print(M." +
                last + "(3, 4))\n");
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("model name", 0) == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos) return Trim(line.substr(colon + 1));
    }
  return "unknown";
}

std::string Fixed(double v, int decimals) {
  if (std::isnan(v)) return "-";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// The first line where two outputs part, for the mismatch report.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::istringstream sa(a), sb(b);
  std::string la, lb;
  for (int line = 1;; ++line) {
    bool ga = bool(std::getline(sa, la)), gb = bool(std::getline(sb, lb));
    if (!ga && !gb) return "outputs differ only in the final line end";
    if (!ga) la = "<end of output>";
    if (!gb) lb = "<end of output>";
    if (!ga || !gb || la != lb)
      return "line " + std::to_string(line) + ": ours \"" + la + "\", Lua \"" + lb + "\"";
  }
}

std::string FirstLine(const std::string& text) {
  std::string t = Trim(text);
  size_t nl = t.find('\n');
  return nl == std::string::npos ? t : t.substr(0, nl);
}

bool ParseInt(const char* text, int& out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 1 || v > 1000000000) return false;
  out = int(v);
  return true;
}

std::optional<Options> ParseArgs(int argc, char** argv) {
  Options o;
  std::string brova;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "bench_runner: %s needs a value\n", a.c_str());
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--keep") {
      o.keep = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    static const char* const kWithValue[] = {
        "--root", "--brova",           "--lua",     "--home", "--ours-cmd", "--frame-cmd", "--only",
        "--reps", "--compile-methods", "--timeout", "--clock"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), a) == std::end(kWithValue)) {
      std::fprintf(stderr, "bench_runner: unknown option %s\n%s", a.c_str(), kUsage);
      return std::nullopt;
    }
    const char* v = value();
    if (!v) return std::nullopt;
    if (a == "--root") {
      o.root = v;
    } else if (a == "--brova") {
      brova = v;
    } else if (a == "--lua") {
      o.lua = v;
    } else if (a == "--home") {
      o.home = v;
    } else if (a == "--ours-cmd") {
      o.oursCmd = v;
    } else if (a == "--frame-cmd") {
      o.frameCmd = v;
    } else if (a == "--clock") {
      if (std::strcmp(v, "wall") != 0 && std::strcmp(v, "cpu") != 0) {
        std::fprintf(stderr, "bench_runner: --clock is wall or cpu\n");
        return std::nullopt;
      }
      o.cpuClock = std::strcmp(v, "cpu") == 0;
    } else if (a == "--only") {
      std::string list = v;
      for (char& c : list)
        if (c == ',') c = ' ';
      o.only = SplitWords(list);
    } else if (a == "--reps") {
      if (!ParseInt(v, o.reps)) {
        std::fprintf(stderr, "bench_runner: --reps needs a positive number\n");
        return std::nullopt;
      }
    } else if (a == "--compile-methods") {
      if (!ParseInt(v, o.compileMethods)) {
        std::fprintf(stderr, "bench_runner: --compile-methods needs a positive number\n");
        return std::nullopt;
      }
    } else if (a == "--timeout") {
      char* end = nullptr;
      o.timeout = std::strtod(v, &end);
      if (end == v || *end != '\0' || !(o.timeout > 0)) {
        std::fprintf(stderr, "bench_runner: --timeout needs a positive number of seconds\n");
        return std::nullopt;
      }
    }
  }
  for (const std::string& name : o.only)
    if (std::none_of(std::begin(kWorkloads), std::end(kWorkloads),
                     [&](const WorkloadInfo& w) { return name == w.name; })) {
      std::fprintf(stderr, "bench_runner: no workload named %s\n", name.c_str());
      return std::nullopt;
    }
  o.root = fs::absolute(o.root).lexically_normal();
  o.brova =
      brova.empty() ? (o.root / "build-release" / "brova").string() : fs::absolute(brova).string();
  if (!o.home.empty()) o.home = fs::absolute(o.home).lexically_normal().string();
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> parsed = ParseArgs(argc, argv);
  if (!parsed) return 2;
  const Options& opt = *parsed;

  const fs::path scripts = opt.root / "bench" / "scripts";
  if (!fs::exists(scripts / "empty.brova")) {
    std::fprintf(stderr, "bench_runner: no workloads in %s (use --root)\n", scripts.c_str());
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnAlarm;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, nullptr);
  // Neither side should open a window or an audio device; a caller's choice stands.
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  char tmpl[] = "/tmp/brova-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("bench_runner: mkdtemp");
    return 2;
  }
  const fs::path work = tmpl;
  const fs::path gen = work / "gen", scratch = work / "scratch";
  fs::create_directories(gen);
  fs::create_directories(scratch);

  // A private program folder, so emptying its cache touches nothing of the caller's.
  fs::path home = opt.home;
  if (home.empty()) {
    home = work / "home";
    fs::create_directories(home);
    for (const char* part : {"kernel", "Usr"}) {
      std::error_code ec;
      if (fs::exists(opt.root / part))
        fs::copy(opt.root / part, home / part, fs::copy_options::recursive, ec);
      if (ec) {
        std::fprintf(stderr, "bench_runner: cannot copy %s: %s\n", part, ec.message().c_str());
        return 2;
      }
    }
  }

  GenerateCompileWorkload(gen, opt.compileMethods);

  std::vector<Workload> chosen;
  for (const WorkloadInfo& info : kWorkloads) {
    const std::string name = info.name;
    if (!opt.only.empty() && std::find(opt.only.begin(), opt.only.end(), name) == opt.only.end())
      continue;
    if (name == "compile")
      chosen.push_back(
          {name, std::string(info.what) + ", " + std::to_string(opt.compileMethods) + " methods",
           gen / "big.brova", gen / "big.lua", true});
    else
      chosen.push_back({name, info.what, scripts / (name + ".brova"), scripts / (name + ".lua")});
  }

  const fs::path emptyBrova = scripts / "empty.brova", emptyLua = scripts / "empty.lua";
  auto ours = [&](const fs::path& brova, const fs::path& lua) {
    Paths p{opt.brova, brova.string(), lua.string(), home.string()};
    return Run(Expand(opt.oursCmd, p), brova.parent_path(), scratch, opt.timeout);
  };
  auto theirs = [&](const fs::path& lua) {
    return Run({opt.lua, lua.string()}, lua.parent_path(), scratch, opt.timeout);
  };

  std::fprintf(stderr, "bench: %d repetitions, work folder %s\n", opt.reps, work.c_str());
  std::vector<std::string> alarms;

  // Our side is measured only once it prints what Lua prints for a one-line script: a player
  // that does not run scripts yet would otherwise give start-up figures of doing nothing.
  const RunResult probeOurs = ours(scripts / "probe.brova", scripts / "probe.lua");
  const RunResult probeLua = theirs(scripts / "probe.lua");
  const bool oursRuns =
      probeOurs.Ok() && probeLua.Ok() && !probeLua.out.empty() && probeOurs.out == probeLua.out;
  if (!oursRuns) {
    const std::string err = FirstLine(probeOurs.err);
    alarms.push_back(
        "our side does not run scripts yet (probe: " +
        (probeOurs.Ok() ? "printed \"" + FirstLine(probeOurs.out) + "\"" : probeOurs.Failure()) +
        (err.empty() ? "" : ", stderr: " + err) + "): only Lua was measured");
  }

  // Start-up of each side: one unmeasured run fills the caches, then the measured ones.
  if (oursRuns) ours(emptyBrova, emptyLua);
  theirs(emptyLua);
  Series baseOurs, baseLua;
  for (int r = 0; r < opt.reps; ++r) {
    if (oursRuns) baseOurs.runs.push_back(ours(emptyBrova, emptyLua));
    baseLua.runs.push_back(theirs(emptyLua));
  }
  const bool cpu = opt.cpuClock;
  const double startOurs = baseOurs.MedianSeconds(cpu), startLua = baseLua.MedianSeconds(cpu);
  if (oursRuns && !baseOurs.Ok())
    alarms.push_back("our empty script failed (" + baseOurs.Failure() +
                     "): " + FirstLine(baseOurs.runs.front().err));
  if (!baseLua.Ok()) {
    std::fprintf(stderr, "bench: Lua's empty script failed (%s): %s\n", baseLua.Failure().c_str(),
                 FirstLine(baseLua.runs.front().err).c_str());
    return 2;
  }

  struct Row {
    const Workload* w;
    Series ours, lua;
    std::string status;
    double netOurs = NAN, netLua = NAN, ratio = NAN;
  };
  std::vector<Row> rows;
  for (const Workload& w : chosen) {
    Row row{&w, {}, {}, "", NAN, NAN, NAN};
    for (int r = 0; r < opt.reps; ++r) {
      std::fprintf(stderr, "bench: %s %d/%d\n", w.name.c_str(), r + 1, opt.reps);
      if (oursRuns) {
        if (w.coldCache) {
          // Only the big class may miss its cache: the kernel's is rebuilt by an unmeasured run.
          EmptyCache(home);
          ours(emptyBrova, emptyLua);
        }
        row.ours.runs.push_back(ours(w.brova, w.lua));
      }
      row.lua.runs.push_back(theirs(w.lua));
    }
    const RunResult& l = row.lua.runs.front();
    if (!row.lua.Ok()) {
      row.status = "LUA FAILED (" + row.lua.Failure() + ")";
      alarms.push_back(w.name + ": the Lua script failed (" + row.lua.Failure() +
                       "): " + FirstLine(l.err));
    } else if (!oursRuns) {
      row.status = "not run";
    } else if (!row.ours.Ok()) {
      row.status = "FAILED (" + row.ours.Failure() + ")";
      const std::string err = FirstLine(row.ours.runs.front().err);
      alarms.push_back(w.name + ": ours failed (" + row.ours.Failure() + ")" +
                       (err.empty() ? "" : ": " + err));
    } else if (!row.ours.Steady() || !row.lua.Steady()) {
      row.status = "UNSTEADY OUTPUT";
      alarms.push_back(w.name + ": repetitions printed different results");
    } else if (row.ours.runs.front().out != l.out) {
      row.status = "MISMATCH";
      alarms.push_back(w.name + ": outputs differ, " +
                       FirstDifference(row.ours.runs.front().out, l.out));
    } else {
      row.status = "ok";
    }
    row.netLua = row.lua.MedianSeconds(cpu) - startLua;
    if (row.ours.Ok()) row.netOurs = row.ours.MedianSeconds(cpu) - startOurs;
    if (row.status == "ok" && row.netOurs > 0 && row.netLua > 0)
      row.ratio = row.netOurs / row.netLua;
    rows.push_back(std::move(row));
  }

  // Boot (--run of the empty script): without compiled-class files, then with the ones that run
  // wrote; then the first frame.
  std::fprintf(stderr, "bench: boot figures\n");
  Series cold, warm, frame;
  for (int r = 0; oursRuns && r < opt.reps; ++r) {
    EmptyCache(home);
    cold.runs.push_back(ours(emptyBrova, emptyLua));
    warm.runs.push_back(ours(emptyBrova, emptyLua));
  }
  const Paths framePaths{opt.brova, emptyBrova.string(), emptyLua.string(), home.string()};
  for (int r = 0; oursRuns && r < opt.reps; ++r) {
    frame.runs.push_back(Run(Expand(opt.frameCmd, framePaths), home, scratch, opt.timeout));
    if (!frame.runs.back().Ok()) break;
  }

  std::printf(
      "machine: %ld CPUs, %s; %s time, medians of %d runs each side, net of the "
      "empty script's run on the same side\n\n",
      std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)), CpuModel().c_str(),
      opt.cpuClock ? "CPU" : "wall", opt.reps);
  std::printf(
      "| workload | what | ours (s) | Lua (s) | ours/Lua | ours max RSS (MiB) | "
      "Lua max RSS (MiB) | output |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---|\n");
  double logSum = 0;
  int counted = 0;
  for (const Row& row : rows) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", row.w->name.c_str(),
                row.w->what.c_str(), row.ours.Ok() ? Fixed(row.netOurs, 3).c_str() : "n/a",
                Fixed(row.netLua, 3).c_str(), Fixed(row.ratio, 2).c_str(),
                row.ours.Ok() ? Fixed(row.ours.MaxRssMiB(), 1).c_str() : "n/a",
                Fixed(row.lua.MaxRssMiB(), 1).c_str(), row.status.c_str());
    if (!std::isnan(row.ratio)) {
      logSum += std::log(row.ratio);
      ++counted;
    }
  }
  std::printf("\ngeometric mean of ours/Lua: %s (over %d of %zu workloads)\n",
              counted ? Fixed(std::exp(logSum / counted), 2).c_str() : "n/a", counted, rows.size());
  std::printf("empty script (subtracted): ours %s s, Lua %s s\n\n",
              baseOurs.Ok() ? Fixed(startOurs, 3).c_str() : "n/a", Fixed(startLua, 3).c_str());

  auto bootRow = [cpu](const char* what, const Series& s) {
    std::printf("| %s | %s | %s |\n", what, s.Ok() ? Fixed(s.MedianSeconds(cpu), 3).c_str() : "n/a",
                s.Ok() ? Fixed(s.MaxRssMiB(), 1).c_str() : "n/a");
  };
  std::printf("| boot (whole process) | time (s) | max RSS (MiB) |\n|---|---:|---:|\n");
  bootRow("kernel boot, no class cache (Temp/c124_* deleted)", cold);
  bootRow("kernel boot, with the cache", warm);
  bootRow("first frame, headless (--frames 1)", frame);

  if (!alarms.empty()) {
    std::printf("\n");
    for (const std::string& a : alarms) std::printf("!!! %s\n", a.c_str());
  }

  if (opt.keep) {
    std::fprintf(stderr, "bench: kept %s\n", work.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(work, ec);
  }
  return alarms.empty() ? 0 : 1;
}
