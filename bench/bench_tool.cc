// Helpers for bench/run.sh: builds workloads (a game's files and a patch for
// them, a large system.reg), times commands with their peak memory, and
// measures what keeping copied files durable costs.
//
//   bench_tool make-patch GAME PATCH COUNT SIZE DIRS SUBDIRS
//   bench_tool make-registry FILE MIB [--no-product-key | --no-game]
//   bench_tool time [--cwd DIR] [--stdin TEXT] [--env K=V]... [--syncfs DIR]
//              -- COMMAND [ARG...]
//   bench_tool durability DIR COUNT SIZE
//   bench_tool replace PATCH GAME

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

[[noreturn]] void Die(const std::string& what) {
  fprintf(stderr, "bench_tool: %s: %s\n", what.c_str(), strerror(errno));
  exit(2);
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

void MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string dir = path.substr(0, pos);
      if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) Die("mkdir " + dir);
    }
  }
}

/// Writes `size` bytes of data that differ from file to file (by `seed`).
void WriteFile(const std::string& path, uint64_t size, uint64_t seed) {
  static std::vector<uint64_t> block(1 << 17);  // 1 MiB
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  size_t words = std::min<uint64_t>(block.size(), (size + 7) / 8);
  for (size_t i = 0; i < words; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    block[i] = x;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("open " + path);
  for (uint64_t done = 0; done < size;) {
    size_t n = std::min<uint64_t>(size - done, block.size() * 8);
    block[0] ^= done + 1;  // no two MiB alike
    ssize_t w = write(fd, block.data(), n);
    if (w <= 0) Die("write " + path);
    done += w;
  }
  close(fd);
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// Files `COUNT` files of `SIZE` bytes in DIRS folders of SUBDIRS folders
// each under GAME/Data (0 for none), with their replacements under
// PATCH/files at the same relative paths. Writes two lists for the same
// files: PATCH/move-exact.txt names the destinations as they are on disk,
// PATCH/move-miscased.txt in upper case.
int MakePatch(int argc, char** argv) {
  if (argc != 8) return 1;
  std::string game = argv[2], patch = argv[3];
  long count = atol(argv[4]), dirs = atol(argv[6]), subdirs = atol(argv[7]);
  uint64_t size = strtoull(argv[5], nullptr, 10);
  std::string header = "Benchmark patch: " + std::to_string(count) +
                       " files.\\nApply it now?\r\ntorvane.exe\r\n";
  std::string exact = header, miscased = header;
  for (long i = 0; i < count; ++i) {
    char rel[64];
    int n = snprintf(rel, sizeof rel, "Data");
    if (dirs > 0) n += snprintf(rel + n, sizeof rel - n, "/d%02ld", i % dirs);
    if (subdirs > 0)
      n += snprintf(rel + n, sizeof rel - n, "/s%02ld", i / dirs % subdirs);
    std::string dir = rel;
    snprintf(rel + n, sizeof rel - n, "/f%05ld.dat", i);
    if (i < dirs * std::max(1L, subdirs) || i == 0) {
      MakeDirs(game + "/" + dir);
      MakeDirs(patch + "/files/" + dir);
    }
    WriteFile(game + "/" + rel, size, 2 * i);
    WriteFile(patch + "/files/" + rel, size, 2 * i + 1);
    std::string dest = rel;
    std::replace(dest.begin(), dest.end(), '/', '\\');
    std::string source = std::string("files\\") + dest;
    exact += source + "," + dest + "\r\n";
    miscased += source + "," + Upper(dest) + "\r\n";
  }
  for (auto [name, text] : {std::make_pair("/move-exact.txt", &exact),
                            std::make_pair("/move-miscased.txt", &miscased)}) {
    FILE* f = fopen((patch + name).c_str(), "wb");
    if (!f) Die("fopen " + patch + name);
    fwrite(text->data(), 1, text->size(), f);
    fclose(f);
  }
  return 0;
}

/// Formats a key line and its time stamp line.
void PutKey(FILE* f, const std::string& path) {
  std::string escaped;
  for (char c : path)
    escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  fprintf(f, "\n[%s] 1796620816\n#time=1dd860aa4f8db80\n", escaped.c_str());
}

/// A GUID-like name from `n`.
std::string Guid(uint64_t n) {
  char buf[64];
  uint64_t x = n * 0x9E3779B97F4A7C15ull + 7;
  snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}",
           static_cast<unsigned>(x >> 32),
           static_cast<unsigned>(x >> 16 & 0xFFFF),
           static_cast<unsigned>(x & 0xFFFF), static_cast<unsigned>(n & 0xFFFF),
           static_cast<unsigned long long>(x * 31 & 0xFFFFFFFFFFFFull));
  return buf;
}

/// Writes `count` keys under `parent` named by GUIDs, sorted as Wine sorts
/// them, each with a few values of the kinds Wine writes.
void PutClassKeys(FILE* f, const std::string& parent, uint64_t first,
                  uint64_t count) {
  std::vector<std::string> names;
  for (uint64_t i = 0; i < count; ++i) names.push_back(Guid(first + i));
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    PutKey(f, parent + "\\" + name);
    fprintf(f, "@=\"Component %s\"\n", name.c_str() + 1);
    PutKey(f, parent + "\\" + name + "\\InprocServer32");
    fprintf(f,
            "@=\"C:\\\\windows\\\\system32\\\\comp%s.dll\"\n"
            "\"ThreadingModel\"=\"Both\"\n"
            "\"Flags\"=dword:%08x\n"
            "\"Data\"=hex:%02x,00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,"
            "10,11,12,13,14,15,16,17,18,19,1a,1b,\\\n"
            "  1c,1d,1e,1f\n",
            name.substr(1, 8).c_str(), static_cast<unsigned>(name[2]),
            static_cast<unsigned>(name[3]));
  }
}

/// Writes `vendors` vendors with a few products each under `parent`.
void PutVendorKeys(FILE* f, const std::string& parent, int vendors) {
  for (int v = 0; v < vendors; ++v) {
    char vendor[32];
    snprintf(vendor, sizeof vendor, "Vendor%04d", v);
    for (int p = 0; p < 4; ++p) {
      char product[64];
      snprintf(product, sizeof product, "%s\\%s\\Product %d", parent.c_str(),
               vendor, p);
      PutKey(f, product);
      fprintf(f,
              "\"Install Dir\"=\"C:\\\\Program Files (x86)\\\\%s\\\\Product "
              "%d\"\n\"Version\"=\"%d.%d.%d\"\n\"Language\"=dword:00000409\n",
              vendor, p, v % 9, p, v);
    }
  }
}

// Writes a system.reg of about MIB MiB in Wine's format, as a 64-bit prefix
// with many programs installed has it: class registrations, programs'
// keys in both views, the shared App Paths link, services. The game's key
// (32-bit view) sits where Wine's sorted order puts it, with its App Paths
// entry; --no-product-key leaves the product key out, so that the lookup
// must fall back to App Paths through the link after three failed scans;
// --no-game leaves out both, as in a prefix that holds other programs.
int MakeRegistry(int argc, char** argv) {
  if (argc < 4) return 1;
  std::string path = argv[2];
  double mib = atof(argv[3]);
  std::string option = argc > 4 ? argv[4] : "";
  bool product_key = option.empty();
  bool app_path = option != "--no-game";
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) Die("fopen " + path);
  fprintf(f,
          "WINE REGISTRY Version 2\n;; All keys relative to "
          "REGISTRY\\\\Machine\n\n#arch=win64\n");
  // Sizes by share of the whole: classes 40%, 64-bit programs 10%,
  // 32-bit classes 25%, 32-bit programs 10%, the rest system keys.
  auto keys_for = [&](double share, double bytes_per_key) {
    return static_cast<uint64_t>(mib * 1024 * 1024 * share / bytes_per_key);
  };
  PutClassKeys(f, "Software\\Classes\\CLSID", 0, keys_for(0.40, 420));
  PutKey(f, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths");
  if (app_path) {
    PutKey(f,
           "Software\\Microsoft\\Windows\\CurrentVersion\\App "
           "Paths\\torvane.exe");
    fprintf(f,
            "@=\"C:\\\\Games\\\\Torvane 2000\\\\torvane.exe\"\n"
            "\"Path\"=\"C:\\\\Games\\\\Torvane 2000\"\n");
  }
  PutVendorKeys(f, "Software", static_cast<int>(keys_for(0.10, 4 * 190)));
  PutClassKeys(f, "Software\\Wow6432Node\\Classes\\CLSID", 1u << 30,
               keys_for(0.25, 420));
  PutKey(
      f,
      "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths");
  fprintf(f, "#link\n\"SymbolicLinkValue\"=hex(6):");
  const char* target =
      "\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\App "
      "Paths";
  for (const char* p = target; *p; ++p)
    fprintf(f, "%s%02x,00", p == target ? "" : ",", *p);
  fprintf(f, "\n");
  if (product_key) {
    PutKey(f, "Software\\Wow6432Node\\Quelvar\\Torvane 2000");
    fprintf(f, "\"Install Dir\"=\"C:\\\\Games\\\\Torvane 2000\"\n");
  }
  PutVendorKeys(f, "Software\\Wow6432Node",
                static_cast<int>(keys_for(0.10, 4 * 190)));
  for (long i = 0; ftell(f) < static_cast<long>(mib * 1024 * 1024); ++i) {
    char key[128];
    snprintf(key, sizeof key,
             "System\\CurrentControlSet\\Services\\Service%05ld\\Parameters",
             i);
    PutKey(f, key);
    fprintf(
        f,
        "\"ImagePath\"=str(2):\"%%SystemRoot%%\\\\system32\\\\drivers\\\\"
        "svc%05ld.sys\"\n\"Start\"=dword:00000003\n\"Type\"=dword:00000001\n",
        i);
  }
  fclose(f);
  return 0;
}

// Runs COMMAND and prints "SECONDS MAXRSS_KIB STATUS". With --syncfs DIR the
// time includes flushing DIR's file system after the command, so that a
// command that leaves its data in memory is compared on equal terms with
// one that puts it on disk.
int Time(int argc, char** argv) {
  std::string cwd, input, syncfs_dir;
  bool feed = false;
  std::vector<std::string> env;
  int i = 2;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    std::string opt = argv[i];
    if (i + 1 >= argc) return 1;
    if (opt == "--cwd")
      cwd = argv[++i];
    else if (opt == "--stdin")
      input = argv[++i], feed = true;
    else if (opt == "--env")
      env.push_back(argv[++i]);
    else if (opt == "--syncfs")
      syncfs_dir = argv[++i];
    else
      return 1;
  }
  if (++i >= argc) return 1;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) Die("pipe");
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    dup2(pipe_fds[0], 0);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    for (std::string& e : env) putenv(e.data());
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    execvp(argv[i], argv + i);
    _exit(127);
  }
  close(pipe_fds[0]);
  if (feed && write(pipe_fds[1], input.data(), input.size()) < 0) Die("write");
  close(pipe_fds[1]);
  int status;
  rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) Die("wait4");
  if (!syncfs_dir.empty()) {
    int fd = open(syncfs_dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || syncfs(fd) != 0) Die("syncfs " + syncfs_dir);
    close(fd);
  }
  double seconds = Now() - start;
  printf("%.6f %ld %d\n", seconds, usage.ru_maxrss,
         WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return 0;
}

// The durability options for a run that replaces COUNT files of SIZE bytes
// in DIR, each copied the way the program copies it (a new unnamed file,
// the kernel's copy, then a rename over the old file):
//   none          no flush at all (what cp gives)
//   fsync         fsync of each new file before its rename
//   fdatasync     fdatasync of each new file before its rename
//   kick+fsync    writeback started at once with sync_file_range, fsync
//                 before the rename
//   end-syncfs    no flush per file, one syncfs before the end; the rename
//                 may reach the disk before the data (not crash-safe)
//   batch-syncfs  64 new files written, one syncfs, then their 64 renames
//                 (crash-safe, but renames happen late)
//   batch-fsync   64 new files written, writeback of all started, an fsync
//                 of each, then their 64 renames (crash-safe, renames late)
int Durability(int argc, char** argv) {
  if (argc != 5) return 1;
  std::string dir = argv[2];
  long count = atol(argv[3]);
  uint64_t size = strtoull(argv[4], nullptr, 10);
  MakeDirs(dir + "/src");
  MakeDirs(dir + "/dst");
  for (long i = 0; i < count; ++i) {
    WriteFile(dir + "/src/f" + std::to_string(i), size, i);
    WriteFile(dir + "/dst/f" + std::to_string(i), size, i + count);
  }
  sync();
  int dir_fd = open((dir + "/dst").c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd < 0) Die("open " + dir);
  const char* modes[] = {"none",       "fsync",      "fdatasync",
                         "kick+fsync", "end-syncfs", "batch-syncfs",
                         "batch-fsync"};
  printf("durability: %ld files of %llu bytes\n", count,
         static_cast<unsigned long long>(size));
  double base = 0;
  // The first pass, of "none" and not shown, warms the caches.
  std::vector<const char*> passes = {"none"};
  passes.insert(passes.end(), std::begin(modes), std::end(modes));
  for (size_t k = 0; k < passes.size(); ++k) {
    std::string m = passes[k];
    const char* mode = passes[k];
    sync();
    double start = Now();
    std::vector<std::pair<int, long>> pending;
    auto commit = [&](int fd, long i) {
      std::string proc = "/proc/self/fd/" + std::to_string(fd);
      std::string temp = ".f" + std::to_string(i) + ".tmp";
      if (linkat(AT_FDCWD, proc.c_str(), dir_fd, temp.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
        Die("linkat");
      close(fd);
      std::string name = "f" + std::to_string(i);
      if (renameat(dir_fd, temp.c_str(), dir_fd, name.c_str()) != 0)
        Die("rename");
    };
    for (long i = 0; i < count; ++i) {
      int in = open((dir + "/src/f" + std::to_string(i)).c_str(), O_RDONLY);
      int out = openat(dir_fd, ".", O_TMPFILE | O_WRONLY, 0600);
      if (in < 0 || out < 0) Die("open");
      while (copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0) > 0) {
      }
      close(in);
      fchmod(out, 0644);
      if (m == "fsync" && fsync(out) != 0) Die("fsync");
      if (m == "fdatasync" && fdatasync(out) != 0) Die("fdatasync");
      if (m == "kick+fsync") {
        sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
        if (fsync(out) != 0) Die("fsync");
      }
      if (m == "batch-syncfs" || m == "batch-fsync") {
        pending.emplace_back(out, i);
        if (pending.size() == 64 || i + 1 == count) {
          if (m == "batch-syncfs") syncfs(dir_fd);
          for (auto& p : pending) {
            if (m == "batch-fsync")
              sync_file_range(p.first, 0, 0, SYNC_FILE_RANGE_WRITE);
          }
          for (auto& p : pending) {
            if (m == "batch-fsync" && fsync(p.first) != 0) Die("fsync");
          }
          for (auto& [fd, j] : pending) commit(fd, j);
          pending.clear();
        }
        continue;
      }
      commit(out, i);
    }
    if (m == "end-syncfs" || m == "batch-syncfs") syncfs(dir_fd);
    if (m == "batch-fsync") fsync(dir_fd);
    double seconds = Now() - start;
    if (k == 0) continue;
    if (m == "none") base = seconds;
    printf("  %-13s %8.3f s  %6.2fx none\n", mode, seconds, seconds / base);
    fflush(stdout);
  }
  close(dir_fd);
  return 0;
}

// Copies the files PATCH/move-exact.txt lists from PATCH into GAME in the
// bare way that leaves each destination old or whole new after a crash, as
// the program's batches do: each into a new unnamed file beside its
// destination, one syncfs per 256 files, then each given a name and renamed
// over its destination, and a syncfs at the end. No checks, no attributes,
// no listings: what such copies cost the file system alone.
int Replace(int argc, char** argv) {
  if (argc != 4) return 1;
  std::string patch = argv[2], game = argv[3];
  FILE* list = fopen((patch + "/move-exact.txt").c_str(), "rb");
  if (!list) Die("fopen " + patch + "/move-exact.txt");
  std::vector<std::pair<std::string, std::string>> entries;
  char line[1024];
  for (int number = 0; fgets(line, sizeof line, list); ++number) {
    line[strcspn(line, "\r\n")] = '\0';
    char* comma = strchr(line, ',');
    if (number < 2 || !comma) continue;
    *comma = '\0';
    std::string source = line, dest = comma + 1;
    std::replace(source.begin(), source.end(), '\\', '/');
    std::replace(dest.begin(), dest.end(), '\\', '/');
    entries.emplace_back(patch + "/" + source, game + "/" + dest);
  }
  fclose(list);
  std::map<std::string, int> dirs;
  struct Written {
    int fd, dir;
    std::string name;
  };
  std::vector<Written> batch;
  auto commit = [&] {
    if (!batch.empty() && syncfs(batch.front().dir) != 0) Die("syncfs");
    for (const Written& w : batch) {
      std::string proc = "/proc/self/fd/" + std::to_string(w.fd);
      std::string temp = "." + w.name + ".new";
      if (linkat(AT_FDCWD, proc.c_str(), w.dir, temp.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
        Die("linkat " + temp);
      close(w.fd);
      if (renameat(w.dir, temp.c_str(), w.dir, w.name.c_str()) != 0)
        Die("renameat " + w.name);
    }
    batch.clear();
  };
  for (const auto& [source, dest] : entries) {
    size_t slash = dest.rfind('/');
    std::string folder = dest.substr(0, slash);
    auto it = dirs.find(folder);
    if (it == dirs.end()) {
      int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) Die("open " + folder);
      it = dirs.emplace(folder, fd).first;
    }
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    int out = openat(it->second, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (in < 0 || out < 0) Die("open " + source);
    ssize_t n;
    while ((n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0)) > 0) {
    }
    if (n < 0) Die("copy_file_range " + source);
    close(in);
    fchmod(out, 0644);
    batch.push_back({out, it->second, dest.substr(slash + 1)});
    if (batch.size() == 256) commit();
  }
  commit();
  if (!dirs.empty() && syncfs(dirs.begin()->second) != 0) Die("syncfs");
  for (const auto& [path, fd] : dirs) close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  int rc = 1;
  if (cmd == "make-patch")
    rc = MakePatch(argc, argv);
  else if (cmd == "make-registry")
    rc = MakeRegistry(argc, argv);
  else if (cmd == "time")
    rc = Time(argc, argv);
  else if (cmd == "durability")
    rc = Durability(argc, argv);
  else if (cmd == "replace")
    rc = Replace(argc, argv);
  if (rc == 1) fprintf(stderr, "usage: see the top of bench/bench_tool.cc\n");
  return rc;
}
