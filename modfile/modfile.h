// The mod description file, its backup and the scratch file, and every file
// operation that the two programs make on them.
//
// All names are relative, so every file lies in the current directory: the
// programs are run from inside the mod's folder.  On Windows every line feed
// written becomes CR LF and every CR LF read becomes a line feed; every
// other byte is read and written as it is.  Platform differences stay
// inside posix.cc and windows.cc, one file for each platform.
#pragma once

#include <cstddef>
#include <cstdio>

// The live mod description file that the game reads.
inline constexpr char kConfigFile[] = "liblist.gam";
// The copy of kConfigFile from before the bot was installed; its presence
// marks the bot as installed.
inline constexpr char kBackupFile[] = "liblist_tv_backup.gam";
// Where a new kConfigFile is built before it is renamed into place.  The name
// is plainly this program's, so that no file of the user's is ever taken for
// it.
inline constexpr char kScratchFile[] = "liblist_tv_temp.gam";

// Input is read in pieces of at most kPieceSize - 1 characters.
inline constexpr size_t kPieceSize = 256;

// --- One run at a time -------------------------------------------------------

// What lock_folder() found.
enum LockResult {
  kLocked,      // this run holds the lock
  kNoLocks,     // the file system offers no locks: the run goes on without
  kBusy,        // another process held a lock on the folder past the wait
  kLockFailed,  // the folder could not be opened or locked (errno tells)
};

// Takes the exclusive lock on the current folder that every run of either
// program holds from its first look at the folder to its last change,
// trying again over a few seconds while another process holds it; no
// signal is used.  The system releases it when the process ends, however
// it ends, and it leaves no file behind.
LockResult lock_folder();

// Makes the inherited process state safe for a run: a file-size limit or a
// closed pipe then fails the write instead of killing the process.
// answer_arguments() calls it first thing; it does nothing on Windows.
void settle_process();

// --- Looking at names ----------------------------------------------------------

// What stands at a name, as far as reading it goes.
enum Presence {
  kMissing,     // nothing at all: the name is free
  kUnreadable,  // something that cannot be opened: no permission, a
                // dangling link; it counts as absent but takes the name
  kRegular,     // a regular file that can be read (through a link, too)
  kNotRegular,  // a folder, FIFO, device or socket: never opened, read or
                // replaced
  kForeignLink, // a symbolic link of another account than the runner's or
                // root's: never followed
};

// What stands at |name|: told from the name first, so that nothing but a
// regular file is ever opened, then the file is opened and closed again.
// After kUnreadable the system's error tells why.
Presence look_at(const char* name);

// Whether this run may rename over or delete |name| as far as ownership
// goes: false in a sticky folder (mode 1777) when neither |name| nor the
// folder belongs to the runner and the runner is not root; true otherwise.
bool may_replace(const char* name);

// Whether anything at all stands at |name|, a dangling link included: true
// when it does or when that cannot be told; false when the name is free.
bool name_taken(const char* name);

// Whether the names |a| and |b| lead to one file, following symbolic links
// at either (two hard links, or a symbolic link that resolves to the
// other): true when they do; false when they do not or either cannot be
// resolved.
bool same_file(const char* a, const char* b);

// Whether |name| itself is a symbolic link (on Windows, a reparse point):
// true when it is; false when it is not or is missing.
bool is_link(const char* name);

// Whether |alias| is only a second name of the file at |of| that can be
// removed while |of| keeps the file: a symbolic link that resolves to it, or
// one of two or more hard links of it while |of| is no link.  False when
// they are not one file, or when removing |alias| could take the file away.
bool removable_second_name(const char* alias, const char* of);

// Whether |name| is a symbolic link whose target does not exist: true when
// it is; false otherwise.
bool is_dangling_link(const char* name);

// --- Results and failures ------------------------------------------------------

// The exit statuses of both programs.
enum Status {
  kDone = 0,         // the folder is in the state the program is for
  kFailed = 1,       // the switch could not be made
  kNothingHere = 2,  // neither kConfigFile nor kBackupFile is in the folder
};

// The first failure of a run is kept for the one line that the program
// prints on standard error when the switch cannot be made; failures of the
// clean-up that follows it do not replace it.  The file layer records
// nothing: some of its failures are ordinary steps (a link refused on a
// file system without links, a name that is free), so the program records
// the failures it reports.

// Keeps "ACTION NAME: REASON" (or "ACTION NAME to OTHER: REASON" when
// |other| is not nullptr) as the run's failure unless one is kept already,
// REASON being the system's reason for the call that has just failed.
void note_failed_call(const char* action, const char* name,
                      const char* other = nullptr);

// Keeps "ACTION NAME: REASON" as the run's failure, with the given
// |reason|, unless one is kept already.
void note_with_reason(const char* action, const char* name,
                      const char* reason);

// Keeps the step that |failure| (below) describes as the run's failure
// unless one is kept already.
struct StepFailure;
void note_failed_step(const StepFailure& failure);

// Prints "PROGRAM: FAILURE; STATE" on standard error as one line, the kept
// failure and |state| saying what the folder holds now: kFailed.
Status report_failure(const char* program, const char* state);

// Prints on standard error that there is nothing to switch in this folder
// and where PROGRAM is meant to be run: kNothingHere.
Status report_nothing_here(const char* program);

// Writes the system's reason for the call that has just failed (errno; the
// last Win32 error on Windows) into |reason|, |size| bytes at most.
void system_reason(char* reason, size_t size);

// Prints "PROGRAM: TEXT" on standard error as one line, for a switch that
// is refused for what the folder holds rather than for a failed call:
// kFailed.
Status report_refusal(const char* program, const char* text);

// Answers the command line of PROGRAM before the folder is looked at.
// Without arguments: -1, and the run goes on.  "-h", "--help" or "/?"
// alone: prints |usage| and the exit statuses 1 and 2 that both programs
// share on standard output, 0.  "--version" alone: prints
// the program's name and version on standard output, 0.  Anything else:
// prints on standard error that PROGRAM takes no arguments, 1.
int answer_arguments(const char* program, int argc, char** argv,
                     const char* usage);

// Ends a run that ended with |status|.  Where the program's console is its
// own (a double-click on Windows), prints |done| on success (the failure
// line is printed already), lets go of the folder lock and keeps the
// window open for a few seconds so that the line can be read; elsewhere
// does nothing.  Returns |status|.
int end_run(Status status, const char* done);

// Starts a run of either program: takes the folder lock, removes a scratch
// file left by a killed run, and sets |config| and |backup| to what stands
// at kConfigFile and kBackupFile.  A backup name that is only another name
// of kConfigFile's file (an install stopped after its link) is no backup:
// that name alone is removed, and |backup| is kMissing.  True when the run
// may go on; false, with the failure noted, when another run kept the lock,
// either name holds a folder, FIFO, device or socket, or such a second name
// cannot be removed.
bool begin_run(Presence* config, Presence* backup);

// --- Reading -------------------------------------------------------------------

// Opens the regular file |name| for reading (a symbolic link only of the
// runner's or root's): the stream; nullptr when |name| is missing, cannot
// be opened, is not a regular file or changed while it was opened.
FILE* open_input(const char* name);

// Reads the next byte of |input|, a CR LF counting as one line feed on
// Windows: the byte; EOF at the end of the file or on a read error.
int read_byte(FILE* input);

// Reads the next piece of |input| into |piece|: at most kPieceSize - 1
// characters, ending after the first line feed or at the end of the file, and
// NUL-terminated after them.  Returns the piece's length (NUL bytes inside
// count); 0 at the end of the file or on a read error.
size_t read_piece(FILE* input, char piece[kPieceSize]);

// Closes |input|: true when no read failed, false after a read error.
bool close_input(FILE* input);

// Whether |marker| occurs in the |length| bytes of |piece|: case-sensitive,
// anywhere, across NUL bytes.
bool holds(const char* piece, size_t length, const char* marker);

// The line end that ends |piece|: "\r\n", "\n", or nullptr when the piece does
// not end with a line feed.
const char* line_end_of(const char* piece, size_t length);

// Whether |marker|, in lower case, occurs in the |length| bytes of |piece|
// in any ASCII case.
bool holds_any_case(const char* piece, size_t length, const char* marker);

// What reading a head found.  The head of a file is every piece up to and
// including the first one that holds "mpentity".
struct Head {
  bool found_mpentity;   // the head ends at a piece that holds "mpentity"
  const char* line_end;  // the file's first line end, or nullptr for none
  bool ends_line;        // the head's last piece ends with a line feed
};

// Called with each piece of a head and the caller's |context|, for the
// flags that the caller takes from the head.
using NotePiece = void (*)(void* context, const char* piece, size_t length);

// Reads the head of |input| from where the stream stands, passing each piece
// to |note| (unless it is nullptr) with |context| and, unless |output| is nullptr, appending it to
// |output|.  Fills |head| and returns true when every piece was read and
// written; false on a read or write error.  Without "mpentity" the whole
// file is read.
bool read_head(FILE* input, FILE* output, NotePiece note, void* context,
               Head* head);

// What a whole reading of liblist.gam found.
struct Survey {
  Head head;
  // Some piece after the head holds "tavrel" or "tav_rel", in any case:
  // the bot's lines that install writes, commented out or not.
  bool has_bot_lines;
};

// Reads |input| from its start: its head, passing each head piece to |note|
// with |context|, then the pieces after it.  Fills |survey| and returns
// true when every piece was read; false on a read error.
bool survey_file(FILE* input, NotePiece note, void* context, Survey* survey);

// Reads kConfigFile through with survey_file(): true with |survey| filled;
// false, with the failure noted, when it cannot be opened or read.
bool survey_config(NotePiece note, void* context, Survey* survey);

// Sets |input| back to its start for a second reading: true on success.
bool rewind_input(FILE* input);

// --- Writing -------------------------------------------------------------------
//
// Every output is one stream, created by this run and kept open through
// every write, the change of mode and owner and the flush, until it is
// complete: no output is ever opened again by name, so nothing put at its
// name meanwhile is written to.  No write ever follows a symbolic link.

// Creates |name| for writing (in text mode on Windows), only where nothing
// stands at that name: the stream; nullptr, with the system's error telling
// why, when the name is taken or the creation fails.
FILE* create_output(const char* name);

// Writes the |length| bytes of |text| verbatim to |output|: true when all of
// them were taken, false on a write error.
bool append_text(FILE* output, const char* text, size_t length);

// Writes |count| lines to |output|, each followed by |line_end|: true when
// all of them were taken, false on a write error.
bool append_lines(FILE* output, const char* const lines[], size_t count,
                  const char* line_end);

// Gives the new file |output| the permission bits and access ACL of the
// open file |original| and, where the process may, its owner and group:
// true when it has the original's bits and ACL afterwards (some file
// systems refuse any change but give every file the same bits); false on
// failure.  On Windows the file keeps the permissions it inherited from the
// folder: true.
bool copy_permissions(FILE* output, FILE* original);

// Forces what has been written to |output| onto the disk: true on success,
// false on failure.
bool flush_to_disk(FILE* output);

// --- Names ---------------------------------------------------------------------

// Forces the current folder's entries (created and renamed names) onto the
// disk: true on success; false where the file system refuses it.
bool sync_folder();

// Deletes the file or link |name|, never a link's target and never a
// folder: true on success, false on failure.
bool delete_file(const char* name);

// Gives the file |from| the second name |to| as a hard link, |from| staying
// in place, then forces the folder onto the disk: true on success; false
// when |to| is taken or the file system has no hard links (FAT, exFAT, many
// network file systems).
bool link_file(const char* from, const char* to);

// Renames |from| to |to| only when nothing stands at |to|, then forces the
// folder onto the disk: true when the rename succeeded; false when |to| is
// taken or the rename fails, both names unchanged.
bool rename_file(const char* from, const char* to);

// Renames |from| to |to| in one step, replacing any file named |to|, then
// forces the folder onto the disk: true when the rename succeeded; false on
// failure, both names unchanged.
bool replace_file(const char* from, const char* to);

// Sets the modification time of |name| to now, without following a link:
// true on success, false on failure.
bool touch_file(const char* name);

// --- Building a new file -------------------------------------------------------
//
// A new liblist.gam is made in kScratchFile, written through the one stream
// that created it, finished (permissions, flushed to disk), and then either
// committed (renamed into place) or discarded.

// A step of building or committing that failed, described when it failed,
// so that the clean-up after it cannot change the reason.  The layer only
// describes it; the program records it when it is the failure to report.
struct StepFailure {
  const char* action;  // what could not be done: "cannot write", ...
  const char* name;    // the file it was done to
  const char* other;   // the new name, for a rename; else nullptr
  char reason[256];    // the system's reason
};

// Fills |failure| with |action|, |name|, |other| and the system's reason for
// the call that has just failed.
void describe_failure(StepFailure* failure, const char* action,
                      const char* name, const char* other = nullptr);

// Writes the new file to |output| from |source| with the caller's
// |context|: true when every piece was read and everything was written.
using WriteNewFile = bool (*)(FILE* source, FILE* output, void* context);

// Builds kScratchFile from the open input |source|, the file |source_name|:
// creates it, lets |write| fill it from |source| with |context|, and
// finishes it as the replacement of |source|.  True when the scratch file is
// complete, has the source's permissions and is on disk; false, with
// |failure| describing the step that failed (the creation, a read, a write,
// the permissions, the flush), and then no scratch file is left.
bool build_scratch(FILE* source, const char* source_name, WriteNewFile write,
                   void* context, StepFailure* failure);

// Renames the finished scratch file over |name| in one step and forces the
// folder onto the disk: true when it is in place; false, with |failure|
// describing the rename, and then the scratch file is removed and |name| is
// as it was.
bool commit_scratch(const char* name, StepFailure* failure);

// Removes the scratch file: this run's own that is not to be committed, or
// one that a killed run left.  A missing file is no error, and a failure is
// ignored: the next run removes it.
void discard_scratch();
