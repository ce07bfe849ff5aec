// The start of a run, and the one line that a run prints when it fails.
#include <cstring>

#include "modfile.h"

namespace {

// The run's first failure, as "ACTION NAME: REASON"; empty while none.
char failure[512];

// Appends |text| to |buffer| as far as it fits, keeping it NUL-terminated.
void append_bounded(char* buffer, size_t size, const char* text) {
  size_t used = std::strlen(buffer);
  size_t room = size - 1 - used;
  size_t length = std::strlen(text);
  if (length > room) length = room;
  std::memcpy(buffer + used, text, length);
  buffer[used + length] = '\0';
}

// Keeps "ACTION NAME[ to OTHER]: REASON" unless a failure is kept already.
void keep_failure(const char* action, const char* name, const char* other,
                  const char* reason) {
  if (failure[0] != '\0') return;
  append_bounded(failure, sizeof failure, action);
  append_bounded(failure, sizeof failure, " ");
  append_bounded(failure, sizeof failure, name);
  if (other != nullptr) {
    append_bounded(failure, sizeof failure, " to ");
    append_bounded(failure, sizeof failure, other);
  }
  append_bounded(failure, sizeof failure, ": ");
  append_bounded(failure, sizeof failure, reason);
}

// Prints |text| on standard error; nothing more can be done when that fails.
void print_error(const char* text) {
  (void)fputs(text, stderr);
}

// Notes a folder, FIFO or device at |name|, which is never read or
// replaced, and a link of another account, which is never followed.
bool refuse_special(const char* name, Presence presence) {
  if (presence == kForeignLink) {
    note_with_reason("cannot use", name,
                     "it is a symbolic link that belongs to another account; "
                     "run the program as that account, or put the file "
                     "itself in place of the link");
    return false;
  }
  if (presence != kNotRegular) return true;
  note_with_reason("cannot use", name,
                   "it is a folder, FIFO, device or socket, not a regular file");
  return false;
}

// Takes the folder lock: true when the run may go on, with the lock or on a
// file system that has none; false, with the failure noted, when not.
bool take_lock() {
  switch (lock_folder()) {
    case kLocked:
    case kNoLocks:
      return true;
    case kBusy:
      note_with_reason("cannot lock", "the mod folder",
                       "another process holds a lock on it; try again when "
                       "it is done");
      return false;
    case kLockFailed:
      break;
  }
  note_failed_call("cannot lock", "the mod folder");
  return false;
}

// A backup name that leads to liblist.gam's own file (an install stopped
// after its link, or a link made by hand) holds no original of its own:
// that name alone is removed, and the run goes on as without a backup.
// Where removing the backup name could take the file with it (liblist.gam
// a symbolic link to it), the run is refused instead.
bool drop_second_name(Presence config, Presence* backup) {
  if (*backup != kRegular || config != kRegular ||
      !same_file(kBackupFile, kConfigFile))
    return true;
  if (!removable_second_name(kBackupFile, kConfigFile)) {
    note_with_reason("cannot use", kBackupFile,
                     "it leads to the same file as liblist.gam, so it is no "
                     "backup of its own, and removing it could take that "
                     "file too; put the file itself at liblist.gam, without "
                     "links, and remove the other name by hand");
    return false;
  }
  if (!delete_file(kBackupFile)) {
    note_failed_call("cannot delete", kBackupFile);
    return false;
  }
  *backup = kMissing;
  return true;
}

}  // namespace

void note_failed_call(const char* action, const char* name,
                      const char* other) {
  char reason[256];
  system_reason(reason, sizeof reason);
  keep_failure(action, name, other, reason);
}

void note_with_reason(const char* action, const char* name,
                      const char* reason) {
  keep_failure(action, name, nullptr, reason);
}

void note_failed_step(const StepFailure& failure) {
  keep_failure(failure.action, failure.name, failure.other, failure.reason);
}

Status report_failure(const char* program, const char* state) {
  print_error(program);
  print_error(": ");
  print_error(failure[0] != '\0' ? failure : "the switch could not be made");
  print_error("; ");
  print_error(state);
  print_error("\n");
  return kFailed;
}

Status report_nothing_here(const char* program) {
  print_error(program);
  print_error(": there is nothing to switch here, neither ");
  print_error(kConfigFile);
  print_error(" nor ");
  print_error(kBackupFile);
  print_error("; run ");
  print_error(program);
  print_error(" from the mod's folder, next to ");
  print_error(kConfigFile);
  print_error("\n");
  return kNothingHere;
}

Status report_refusal(const char* program, const char* text) {
  print_error(program);
  print_error(": ");
  print_error(text);
  print_error("\n");
  return kFailed;
}

int answer_arguments(const char* program, int argc, char** argv,
                     const char* usage) {
  settle_process();
  if (argc < 2) return -1;
  if (argc == 2) {
    const char* word = argv[1];
    if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0 ||
        std::strcmp(word, "/?") == 0) {
      // Nothing more can be done when standard output is closed.
      (void)fputs(usage, stdout);
      (void)fputs(
          "  1  nothing was switched; one line on standard error says why\n"
          "  2  neither liblist.gam nor liblist_tv_backup.gam is here\n"
          "\n"
          "The user guide is README-tavrel.txt, beside the programs in "
          "their archive.\n",
          stdout);
      return fflush(stdout) == 0 ? 0 : 1;
    }
    if (std::strcmp(word, "--version") == 0) {
      (void)fputs(program, stdout);
      (void)fputs(" (Tavrel switch) " TAVREL_VERSION "\n", stdout);
      return fflush(stdout) == 0 ? 0 : 1;
    }
  }
  print_error(program);
  print_error(": takes no arguments, and nothing was changed; run it with none "
        "from the mod's folder, next to liblist.gam (");
  print_error(program);
  print_error(" --help says more)\n");
  return kFailed;
}

bool begin_run(Presence* config, Presence* backup) {
  if (!take_lock()) return false;
  // A scratch file left by a killed run: no run of ours is using it now.
  discard_scratch();
  *backup = look_at(kBackupFile);
  if (*backup == kUnreadable) note_failed_call("cannot open", kBackupFile);
  *config = look_at(kConfigFile);
  if (*config == kUnreadable) note_failed_call("cannot open", kConfigFile);
  if (!refuse_special(kBackupFile, *backup) ||
      !refuse_special(kConfigFile, *config))
    return false;
  // The switch ends with a rename over liblist.gam, which a sticky folder
  // refuses to anyone but the owners: refused before anything is made.
  if (*config != kMissing && !may_replace(kConfigFile)) {
    note_with_reason("cannot replace", kConfigFile,
                 "it belongs to another account in a folder that only its "
                 "owners may change (a sticky folder); run the program as "
                 "that account");
    return false;
  }
  return drop_second_name(*config, backup);
}

bool survey_config(NotePiece note, void* context, Survey* survey) {
  FILE* config = open_input(kConfigFile);
  if (config == nullptr) {
    note_failed_call("cannot open", kConfigFile);
    return false;
  }
  bool read = survey_file(config, note, context, survey);
  if (!close_input(config) || !read) {
    note_failed_call("cannot read", kConfigFile);
    return false;
  }
  return true;
}
