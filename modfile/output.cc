// Writing: every output is built by appending to a file that was created
// empty by this run (create_new) or renamed away first.
#include "modfile.h"

bool append_text(const char* name, const char* text, size_t length) {
  FILE* output = open_output(name);
  if (output == nullptr) return false;
  bool written = fwrite(text, 1, length, output) == length;
  // fclose() flushes the buffer: a full disk shows up here at the latest.
  bool closed = fclose(output) == 0;
  return written && closed;
}

bool append_lines(const char* name, const char* const lines[], size_t count,
                  const char* line_end) {
  FILE* output = open_output(name);
  if (output == nullptr) return false;
  bool written = true;
  for (size_t i = 0; i < count && written; ++i)
    written = fputs(lines[i], output) >= 0 && fputs(line_end, output) >= 0;
  bool closed = fclose(output) == 0;
  return written && closed;
}
