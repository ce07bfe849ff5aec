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

bool finish_output(FILE* output, const char* name, FILE* original,
                   const char* original_name) {
  bool done = fflush(output) == 0 && ferror(output) == 0;
  if (!done) note_failure("cannot write", name);
  if (done && !copy_permissions(output, original)) {
    note_failure("cannot give the permission bits of", original_name, name);
    done = false;
  }
  if (done && !flush_to_disk(output)) {
    note_failure("cannot flush", name);
    done = false;
  }
  if (fclose(output) != 0 && done) {
    note_failure("cannot write", name);
    done = false;
  }
  return done;
}

void abandon_output(FILE* output) {
  (void)fclose(output);  // the file is deleted or left incomplete anyway
}

bool build_scratch(FILE* source, const char* source_name,
                   bool (*write)(FILE* source, FILE* output, void* context),
                   void* context) {
  FILE* output = create_output(kScratchFile);
  if (output == nullptr) return false;
  bool built = write(source, output, context);
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
