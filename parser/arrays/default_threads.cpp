#include "parser/arrays/default_threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif
#if defined(__linux__)
#include <sched.h>
#endif

namespace MathUtils::detail {

namespace {

// Integers only, here and below: the count is read on a call over arrays,
// whose caller's exception flags no arithmetic of ours may touch.
std::optional<std::int64_t> WholeNumber(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<int> Count(std::string_view text) {
  const std::optional<std::int64_t> value = WholeNumber(text);
  if (!value || *value < 1) return std::nullopt;
  return static_cast<int>(std::min<std::int64_t>(*value, 1 << 20));
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t next = text.find(separator, at);
    parts.push_back(text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
    if (next == std::string_view::npos) return parts;
    at = next + 1;
  }
}

// mountinfo writes a space, tab, line feed and backslash in a path as
// \ooo in octal.
std::string Unescaped(std::string_view path) {
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto octal = [&](std::size_t k) { return k < path.size() && path[k] >= '0' && path[k] <= '7'; };
    if (path[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((path[i + 1] - '0') * 64 + (path[i + 2] - '0') * 8 + (path[i + 3] - '0'));
      i += 3;
    } else {
      out += path[i];
    }
  }
  return out;
}

// A cgroup hierarchy as mounted: where, and which part of it the mount shows.
struct Mount {
  std::string Root;
  std::string Point;
};

// The mount of cgroup v2, or of the v1 hierarchy holding the cpu controller.
std::optional<Mount> CgroupMount(std::string_view mountInfo, bool v2) {
  for (const std::string_view line : Split(mountInfo, '\n')) {
    const std::vector<std::string_view> fields = Split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (dash == fields.end() || fields.end() - dash < 4 || dash - fields.begin() < 5) continue;
    const std::string_view type = dash[1];
    if (v2 ? type != "cgroup2" : type != "cgroup") continue;
    if (!v2) {
      const std::vector<std::string_view> options = Split(dash[3], ',');
      if (std::find(options.begin(), options.end(), "cpu") == options.end()) continue;
    }
    return Mount{Unescaped(fields[3]), Unescaped(fields[4])};
  }
  return std::nullopt;
}

// The process's group in that hierarchy (/proc/self/cgroup: "0::/path" for
// v2, "4:cpu,cpuacct:/path" for v1).
std::optional<std::string> CgroupPath(std::string_view cgroups, bool v2) {
  for (const std::string_view line : Split(cgroups, '\n')) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::vector<std::string_view> names = Split(controllers, ',');
    const bool matches = v2 ? line.substr(0, first) == "0" && controllers.empty()
                            : std::find(names.begin(), names.end(), "cpu") != names.end();
    if (matches) return std::string(line.substr(second + 1));
  }
  return std::nullopt;
}

// CPUs of quota over period, rounded up: 150000 per 100000 is 2.
std::optional<int> QuotaCpus(std::optional<std::int64_t> quota, std::optional<std::int64_t> period) {
  if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
  return static_cast<int>(std::clamp<std::int64_t>((*quota + *period - 1) / *period, 1, 1 << 20));
}

std::optional<int> LimitIn(const std::string& directory, bool v2,
                           const std::function<std::optional<std::string>(const std::string&)>& read) {
  const auto number = [&](const std::string& file) -> std::optional<std::int64_t> {
    const std::optional<std::string> text = read(directory + "/" + file);
    return text ? WholeNumber(*text) : std::nullopt;
  };
  if (!v2) return QuotaCpus(number("cpu.cfs_quota_us"), number("cpu.cfs_period_us"));
  const std::optional<std::string> text = read(directory + "/cpu.max");  // "max 100000" or "150000 100000"
  if (!text) return std::nullopt;
  const std::vector<std::string_view> parts = Split(*text, ' ');
  if (parts.size() != 2) return std::nullopt;
  return QuotaCpus(WholeNumber(parts[0]), WholeNumber(parts[1]));
}

// The least limit of the process's group and the groups above it, up to
// the mount's top.
std::optional<int> HierarchyLimit(std::string_view mountInfo, std::string_view cgroups, bool v2,
                                  const std::function<std::optional<std::string>(const std::string&)>& read) {
  const std::optional<Mount> mount = CgroupMount(mountInfo, v2);
  const std::optional<std::string> path = CgroupPath(cgroups, v2);
  if (!mount || !path) return std::nullopt;
  // The path below the mount's root; a group outside what the mount shows
  // (another namespace's): the mount's top.
  std::string below;
  if (mount->Root == "/")
    below = *path;
  else if (path->starts_with(mount->Root) &&
           (path->size() == mount->Root.size() || (*path)[mount->Root.size()] == '/'))
    below = path->substr(mount->Root.size());
  std::optional<int> least;
  for (;;) {
    while (!below.empty() && below.back() == '/') below.pop_back();
    if (const std::optional<int> limit = LimitIn(mount->Point + below, v2, read))
      least = least ? std::min(*least, *limit) : *limit;
    if (below.empty()) return least;
    below.erase(below.rfind('/') == std::string::npos ? 0 : below.rfind('/'));
  }
}

int AffinityCpus() {
#if defined(__linux__)
  for (int cpus = 1024; cpus <= (1 << 16); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (!set) return 0;
    const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
    const bool read = sched_getaffinity(0, bytes, set) == 0;
    const int count = read ? CPU_COUNT_S(bytes, set) : 0;
    CPU_FREE(set);
    if (read) return count;
    if (errno != EINVAL) return 0;  // EINVAL: more CPUs than the set holds
  }
  return 0;
#elif defined(_WIN32)
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 0;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
#else
  return 0;
#endif
}

#if defined(__linux__)
std::optional<std::string> FileText(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}
#endif

int ReadThreadCount() {
  int cpus = AffinityCpus();
  if (cpus <= 0) cpus = static_cast<int>(std::min(std::thread::hardware_concurrency(), 1u << 20));
  cpus = std::max(cpus, 1);
#if defined(__linux__)
  const std::optional<std::string> mountInfo = FileText("/proc/self/mountinfo");
  const std::optional<std::string> cgroups = FileText("/proc/self/cgroup");
  if (mountInfo && cgroups)
    if (const std::optional<int> limit = CgroupCpuLimit(*mountInfo, *cgroups, FileText))
      cpus = std::min(cpus, *limit);
#endif
  return LoweredByEnvironment(cpus, std::getenv("VORNCALC_NUM_THREADS"), std::getenv("OMP_NUM_THREADS"));
}

std::atomic<int> Cached{0};  // 0: not read yet in this process

void ForgetInChildren() {
#if !defined(_WIN32)
  pthread_atfork(nullptr, nullptr, [] { Cached.store(0, std::memory_order_relaxed); });
#endif
}

}  // namespace

std::optional<int> CgroupCpuLimit(std::string_view mountInfo, std::string_view cgroups,
                                  const std::function<std::optional<std::string>(const std::string&)>& read) {
  const std::optional<int> v2 = HierarchyLimit(mountInfo, cgroups, true, read);
  const std::optional<int> v1 = HierarchyLimit(mountInfo, cgroups, false, read);
  if (v2 && v1) return std::min(*v2, *v1);
  return v2 ? v2 : v1;
}

int LoweredByEnvironment(int cpus, const char* vorncalcThreads, const char* openMpThreads) {
  std::optional<int> asked = vorncalcThreads ? Count(vorncalcThreads) : std::nullopt;
  if (!asked && openMpThreads) asked = Count(Split(openMpThreads, ',').front());
  return asked ? std::min(cpus, *asked) : cpus;
}

int DefaultThreadCount() {
  static const bool ForgottenInChildren = (ForgetInChildren(), true);
  static_cast<void>(ForgottenInChildren);
  int count = Cached.load(std::memory_order_relaxed);
  if (count == 0) {
    count = ReadThreadCount();
    Cached.store(count, std::memory_order_relaxed);
  }
  return count;
}

}  // namespace MathUtils::detail
