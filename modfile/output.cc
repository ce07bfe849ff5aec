// Writing to an output stream that create_output() made.
#include "modfile.h"

bool append_text(FILE* output, const char* text, size_t length) {
  return fwrite(text, 1, length, output) == length;
}

bool append_lines(FILE* output, const char* const lines[], size_t count,
                  const char* line_end) {
  for (size_t i = 0; i < count; ++i)
    if (fputs(lines[i], output) < 0 || fputs(line_end, output) < 0)
      return false;
  return true;
}

void abandon_output(FILE* output) {
  (void)fclose(output);  // the file is deleted or left incomplete anyway
}

bool build_scratch(FILE* source, const char* source_name,
                   bool (*write)(FILE* source, FILE* output)) {
  FILE* output = create_output(kScratchFile);
  if (output == nullptr) return false;
  bool built = write(source, output);
  if (built) {
    built = finish_output(output, kScratchFile, source, source_name);
  } else {
    // |write| stops at the first failing call, so the system's error is
    // still that call's.
    if (ferror(source))
      note_failure("cannot read", source_name);
    else
      note_failure("cannot write", kScratchFile);
    abandon_output(output);
  }
  if (!built) (void)delete_file(kScratchFile);  // this run's own, incomplete
  return built;
}
