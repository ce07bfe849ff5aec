// Writing to an output stream, and building, committing and discarding the
// scratch file.
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

void describe_failure(StepFailure* failure, const char* action,
                      const char* name, const char* other) {
  failure->action = action;
  failure->name = name;
  failure->other = other;
  system_reason(failure->reason, sizeof failure->reason);
}

// Completes |output|, the scratch file, as the replacement of the open file
// |original| named |original_name|: gives it the original's permissions,
// forces its contents onto the disk, and closes it.  True on success; false,
// with |failure| filled, when a write, the permissions, the flush or the
// close failed.  The stream is closed either way.
static bool finish_output(FILE* output, FILE* original,
                          const char* original_name, StepFailure* failure) {
  bool done = fflush(output) == 0 && ferror(output) == 0;
  if (!done) describe_failure(failure, "cannot write", kScratchFile);
  if (done && !copy_permissions(output, original)) {
    describe_failure(failure, "cannot give the permission bits of",
                     original_name, kScratchFile);
    done = false;
  }
  if (done && !flush_to_disk(output)) {
    describe_failure(failure, "cannot flush", kScratchFile);
    done = false;
  }
  if (fclose(output) != 0 && done) {
    describe_failure(failure, "cannot write", kScratchFile);
    done = false;
  }
  return done;
}

bool build_scratch(FILE* source, const char* source_name, WriteNewFile write,
                   void* context, StepFailure* failure) {
  FILE* output = create_output(kScratchFile);
  if (output == nullptr) {
    describe_failure(failure, "cannot create", kScratchFile);
    return false;
  }
  bool built = write(source, output, context);
  if (built) {
    built = finish_output(output, source, source_name, failure);
  } else {
    // |write| stops at the first failing call, so the system's error is
    // still that call's.
    if (ferror(source))
      describe_failure(failure, "cannot read", source_name);
    else
      describe_failure(failure, "cannot write", kScratchFile);
    (void)fclose(output);  // the file is removed anyway
  }
  if (!built) discard_scratch();
  return built;
}

bool commit_scratch(const char* name, StepFailure* failure) {
  if (replace_file(kScratchFile, name)) return true;
  describe_failure(failure, "cannot rename", kScratchFile, name);
  discard_scratch();
  return false;
}

void discard_scratch() {
  (void)delete_file(kScratchFile);  // missing, or left for the next run
}
