// copy_loop: the plain reference for patcher.exe's copy phase under Wine.
// Reads move.txt in the working directory as patcher.exe does (a message
// line, an executable line, then `source,destination` lines) and copies each
// entry with one CopyFileA(source, DIR\destination, FALSE), nothing else;
// with --flush, each copy is then opened again and flushed with
// FlushFileBuffers; with --replace, each is a CopyFileA to a new file beside
// the destination and a MoveFileExA of it over the destination, unflushed:
// the plain way to leave no destination half-written, which makes a new
// file and removes the old one where CopyFileA writes into the old one.
// Prints the seconds the copies took.
//
//   copy_loop.exe DIR [--flush | --replace]
//
// Exit status: 0, or 1 when the list cannot be read or a copy fails.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: copy_loop.exe DIR [--flush]\n");
    return 1;
  }
  std::string dir = argv[1];
  bool flush = argc > 2 && std::strcmp(argv[2], "--flush") == 0;
  bool replace = argc > 2 && std::strcmp(argv[2], "--replace") == 0;
  FILE* list = std::fopen("move.txt", "r");
  if (list == nullptr) {
    std::fprintf(stderr, "copy_loop: cannot open move.txt\n");
    return 1;
  }
  // Read before the clock starts, as patcher.exe has read its list before
  // the question.
  std::vector<std::pair<std::string, std::string>> entries;
  char line[1024];
  for (int number = 0; std::fgets(line, sizeof line, list); ++number) {
    line[std::strcspn(line, "\r\n")] = '\0';
    char* comma = std::strchr(line, ',');
    if (number < 2 || comma == nullptr) continue;
    *comma = '\0';
    entries.emplace_back(line, dir + "\\" + (comma + 1));
  }
  std::fclose(list);

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (const auto& [source, dest] : entries) {
    std::string target = replace ? dest + ".copy_loop" : dest;
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
      std::fprintf(stderr, "copy_loop: CopyFileA(%s, %s): error %lu\n",
                   source.c_str(), target.c_str(), GetLastError());
      return 1;
    }
    if (replace && !MoveFileExA(target.c_str(), dest.c_str(),
                                MOVEFILE_REPLACE_EXISTING)) {
      std::fprintf(stderr, "copy_loop: MoveFileExA(%s, %s): error %lu\n",
                   target.c_str(), dest.c_str(), GetLastError());
      return 1;
    }
    if (!flush) continue;
    HANDLE file = CreateFileA(dest.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file)) {
      std::fprintf(stderr, "copy_loop: FlushFileBuffers(%s): error %lu\n",
                   dest.c_str(), GetLastError());
      return 1;
    }
    CloseHandle(file);
  }
  QueryPerformanceCounter(&end);
  std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) /
                            static_cast<double>(frequency.QuadPart));
  return 0;
}
