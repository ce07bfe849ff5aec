// hold_file NAME MILLISECONDS: opens NAME with no sharing, as a virus
// scanner or the search indexer does for a moment with a file that was just
// written, prints "held" once it has it, keeps it that long, and closes it.
// Built with the Windows programs for the test of brief locks.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: hold_file NAME MILLISECONDS\n", stderr);
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open %s\n", argv[1]);
    return 1;
  }
  std::puts("held");
  (void)std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::atoi(argv[2])));
  (void)CloseHandle(file);
  return 0;
}
