// box_driver: the user at the keyboard, for patcher.exe's tests under Wine.
//
// Runs beside patcher.exe in the same Wine prefix, waits for each message box
// (a visible top-level window of class #32770), records its caption, its
// buttons and its exact text (the Static control 65535), answers it with the
// next answer given, and goes on until told to stop. It can also hold a file
// open without sharing, the way a running game or a virus scanner would.
//
//   box_driver --log FILE --stop FILE [--answers yes,no,ok,...]
//              [--stdout FILE] [--hold FILE [--ready FILE]
//              [--release-after N --release-when DIR\PATTERN]]
//              [--clock FILE]
//
// An answer `auto` is Yes to a Yes/No box and OK to an OK box, for boxes
// of several programs whose order is not known.
//
// Each box is one line of --log:  caption|buttons|text|lines
// where buttons is OK or YESNO, text has \\ \n \r \t escaped, and lines is
// the number of line feeds --stdout held when the box appeared (so a test
// can tell that console lines were flushed before the box). Boxes beyond the
// answers given are closed with No or OK and recorded all the same.
//
// --hold opens FILE with no sharing and writes --ready once it is open. It is
// closed when the driver stops, or with --release-after N once box N has been
// answered and a file matching --release-when exists (the copy's temporary,
// showing that the program is waiting for the file) plus a short pause.
//
// --clock writes one line `N seen|answered SECONDS` when box N is found and
// when it is answered, so that a benchmark can time what a program does
// between two boxes.
//
// Exit status: 0, or 1 when a box could not be answered or the arguments are
// wrong. Never waits longer than --timeout seconds (default 60) in all.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string log;
  std::string stop;
  std::vector<std::string> answers;
  std::string stdout_file;
  std::string hold;
  std::string ready;
  int release_after = 0;
  std::string release_when;
  DWORD timeout_ms = 60000;
  std::string clock;
};

/// Seconds since an arbitrary start, for --clock.
double Now() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool AnyMatch(const std::string& pattern) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

void Touch(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

/// Counts the line feeds in `path`, which another process is writing.
int CountLines(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  int lines = 0;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) lines += buf[i] == '\n';
  }
  CloseHandle(file);
  return lines;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string WindowText(HWND window) {
  if (window == nullptr) return "<none>";
  int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(window, &text[0], length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  return button != nullptr && IsWindowVisible(button);
}

HWND FindBox() {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) !=
         nullptr) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    std::string value = argv[i + 1];
    if (flag == "--log") {
      options->log = value;
    } else if (flag == "--stop") {
      options->stop = value;
    } else if (flag == "--answers") {
      size_t start = 0;
      while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        if (comma > start) {
          options->answers.push_back(value.substr(start, comma - start));
        }
        start = comma + 1;
      }
    } else if (flag == "--stdout") {
      options->stdout_file = value;
    } else if (flag == "--hold") {
      options->hold = value;
    } else if (flag == "--ready") {
      options->ready = value;
    } else if (flag == "--release-after") {
      options->release_after = std::atoi(value.c_str());
    } else if (flag == "--release-when") {
      options->release_when = value;
    } else if (flag == "--clock") {
      options->clock = value;
    } else if (flag == "--timeout") {
      options->timeout_ms = static_cast<DWORD>(std::atoi(value.c_str())) * 1000;
    } else {
      std::fprintf(stderr, "box_driver: unknown flag %s\n", flag.c_str());
      return false;
    }
  }
  if ((argc - 1) % 2 != 0 || options->log.empty() || options->stop.empty()) {
    std::fprintf(stderr, "box_driver: --log and --stop are required\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) return 1;

  HANDLE held = INVALID_HANDLE_VALUE;
  if (!options.hold.empty()) {
    held = CreateFileA(options.hold.c_str(), GENERIC_READ, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "box_driver: cannot hold %s: error %lu\n",
                   options.hold.c_str(), GetLastError());
      return 1;
    }
  }
  if (!options.ready.empty()) Touch(options.ready);

  FILE* log = std::fopen(options.log.c_str(), "wb");
  if (log == nullptr) {
    std::fprintf(stderr, "box_driver: cannot write %s\n", options.log.c_str());
    return 1;
  }

  FILE* clock_file = nullptr;
  if (!options.clock.empty())
    clock_file = std::fopen(options.clock.c_str(), "wb");
  DWORD start = GetTickCount();
  auto timed_out = [&] { return GetTickCount() - start > options.timeout_ms; };
  int status = 0;
  size_t answered = 0;
  while (true) {
    HWND box = FindBox();
    if (box == nullptr) {
      if (Exists(options.stop)) break;
      if (timed_out()) {
        std::fprintf(stderr, "box_driver: timed out\n");
        status = 1;
        break;
      }
      Sleep(20);
      continue;
    }
    if (clock_file)
      std::fprintf(clock_file, "%zu seen %.6f\n", answered + 1, Now());
    // Let the box finish setting up before reading it.
    Sleep(50);
    int lines =
        options.stdout_file.empty() ? -1 : CountLines(options.stdout_file);
    std::string caption = WindowText(box);
    std::string text = WindowText(GetDlgItem(box, 0xFFFF));
    bool yes_no = HasButton(box, IDYES) && HasButton(box, IDNO);
    bool ok = HasButton(box, IDOK);
    const char* buttons = yes_no && !ok ? "YESNO" : ok && !yes_no ? "OK" : "?";
    std::fprintf(log, "%s|%s|%s|%d\n", Escape(caption).c_str(), buttons,
                 Escape(text).c_str(), lines);
    std::fflush(log);

    std::string answer = answered < options.answers.size()
                             ? options.answers[answered]
                             : (yes_no ? "no" : "ok");
    if (answer == "auto") answer = yes_no ? "yes" : "ok";
    int id = answer == "yes" ? IDYES : answer == "no" ? IDNO : IDOK;
    HWND button = GetDlgItem(box, id);
    if (button == nullptr || !IsWindowVisible(button)) {
      std::fprintf(stderr, "box_driver: box \"%s\" has no %s button\n",
                   caption.c_str(), answer.c_str());
      status = 1;
      // Close it some way so that the program under test can go on.
      id = yes_no ? IDNO : IDOK;
      button = GetDlgItem(box, id);
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    ++answered;
    if (clock_file)
      std::fprintf(clock_file, "%zu answered %.6f\n", answered, Now());
    while (IsWindow(box) && !timed_out()) Sleep(10);

    if (held != INVALID_HANDLE_VALUE && options.release_after > 0 &&
        static_cast<int>(answered) == options.release_after) {
      while (!options.release_when.empty() && !AnyMatch(options.release_when) &&
             !timed_out()) {
        Sleep(10);
      }
      bool waited =
          options.release_when.empty() || AnyMatch(options.release_when);
      std::fprintf(log, "released|%s\n",
                   waited ? "while waited for" : "never waited for");
      Sleep(200);
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
    }
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  std::fclose(log);
  if (clock_file) std::fclose(clock_file);
  return status;
}
