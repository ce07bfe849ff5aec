// The mod description file, its backup and the scratch file, and what both
// programs share: one reading of the folder into facts, the failure and
// its line, the object that replaces liblist.gam, and the run itself.
//
// A run reads what the folder holds once, under the folder lock, into one
// value of Facts; each program decides its Plan from the facts alone, with
// no file-system call; then the plan is carried out, or only shown
// (--dry-run).  Every file-system call is behind disk.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>

#include "bytes.h"
#include "disk.h"

// The live mod description file that the game reads.
inline constexpr char kConfigFile[] = "liblist.gam";
// The copy of kConfigFile from before the bot was installed; its presence
// marks the bot as installed.
inline constexpr char kBackupFile[] = "liblist_tv_backup.gam";
// Where a new kConfigFile is built before it is renamed into place.  The name
// is plainly this program's, so that no file of the user's is ever taken for
// it.
inline constexpr char kScratchFile[] = "liblist_tv_temp.gam";

// Input is tested in pieces of at most kPieceSize - 1 characters: a piece
// ends after a line feed or after 255 characters.
inline constexpr size_t kPieceSize = 256;

// The most bytes of a file that are kept for building a new one; far
// beyond any real liblist.gam.
inline constexpr size_t kLargestBuild = 16u << 20;

// --- Reading -----------------------------------------------------------------------

// The games whose titles uninstall knows, in their rank: when the head
// names several, the first of them wins.
enum class Game { firearms, day_of_defeat, battle_grounds, global_warfare, unknown };

// What one reading of a mod description file found.  The head is every
// piece up to and including the first one that holds "mpentity"; without
// one, the whole file.
struct Text {
  // The bytes read (on Windows CR LF as LF), from the start; the reading
  // stops after the bot's lines, which nothing that follows can outweigh.
  Bytes bytes;
  bool read = false;       // read without an error
  Reason read_reason;      // why not
  // Larger than kLargestBuild: |bytes| is empty, and nothing is built.
  bool too_large = false;
  bool found_mpentity = false;
  size_t head_size = 0;    // bytes of the head
  std::string_view first_end;  // the head's first line end; empty for none
  bool head_ends_line = true;  // the head's last piece ends a line
  bool dod = false;      // a head piece holds "Day of Defeat"
  Game game = Game::unknown;  // the best-ranked title on a head piece that
                              // also holds "game"
  // A piece after the head names the bot's library, "tav_rel.dll" or
  // "tavrel.so", in any ASCII case: the bot's entries that install writes,
  // commented out or not.
  bool bot_lines = false;
  // Before any of them, a piece after the head names only the bot: the
  // bot's comment lines, left where its entry was deleted by hand.
  bool bot_comments = false;
  // Where the tail starts: the first piece after the head that holds
  // "gamedll_osx" (Day of Defeat) or "gamedll_linux"; kNone for none.
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t tail_start = kNone;

  std::string_view head() const { return {bytes.view().data(), head_size}; }
  // The tail install keeps; empty where no piece holds the marker.
  std::string_view tail() const {
    std::string_view all = bytes.view();
    if (tail_start == kNone) return {};
    return {all.data() + tail_start, all.size() - tail_start};
  }
};

// Reads the open file |fd| of about |size| bytes through once, in blocks.
Text read_mod_text(int fd, size_t size);

// The line end for the lines that a program adds to |text|: the file's own,
// or a line feed.
inline std::string_view line_end(const Text& text) {
  return text.first_end.empty() ? "\n" : text.first_end;
}

// Whether |marker| occurs in |piece|: case-sensitive, anywhere.
inline bool holds(std::string_view piece, std::string_view marker) {
  return piece.find(marker) != std::string_view::npos;
}

// --- What the folder holds ---------------------------------------------------------

// Everything that either program decides from, read once under the lock.
struct Facts {
  LockResult lock = LockResult::locked;
  Reason lock_reason;
  Folder folder;
  // Whether the folder may be written, as far as permissions tell: looked
  // at only by a dry run, since a real run finds out by trying.
  bool writable = true;
  Reason write_reason;
  Found config;          // kConfigFile
  Found backup;          // kBackupFile
  // The backup name leads to kConfigFile's own file: no backup of its own.
  bool second_name = false;
  // What stands at the backup name, as the decision sees it: nothing where
  // it is only a second name of kConfigFile, which a change removes first.
  Kind backup_kind() const { return second_name ? Kind::missing : backup.kind; }
  // The text of kConfigFile, or of kBackupFile where kConfigFile is
  // missing.
  Text text;
  // The bot's library that a liblist.gam switched from |text| makes this
  // system's engine load (nullptr where it loads the game's own), and
  // whether it is in the folder: looked at for install only.
  const char* library = nullptr;
  bool library_found = false;
};

// Looks at the folder's two names and reads the text that a plan needs;
// where |library| is set, also looks for the bot's library that the text
// calls for.
void read_folder(Facts& facts, bool library);

// Lets go of both open originals before a rename over or of them, where
// the system requires it (see release_before_rename()).
void release_originals(Facts& facts);

// --- Failures and outcomes ---------------------------------------------------------

// What could not be done and why, described when it happened.
struct Failure {
  const char* action = nullptr;  // "cannot rename", ...; nullptr when
                                 // |text| says it all
  const char* name = nullptr;    // the file it was done to
  const char* other = nullptr;   // the new name, for a rename
  const char* text = nullptr;    // a fixed reason; nullptr for |reason|
  Reason reason;                 // the system's reason
};

// A call that has just failed: "ACTION NAME[ to OTHER]: SYSTEM'S REASON".
Failure failed_call(const char* action, const char* name,
                    const char* other = nullptr);
// A call that failed earlier, with the |reason| kept then.
Failure failed_with(const char* action, const char* name, const Reason& reason);
// A refusal for what the folder holds: "ACTION NAME: TEXT", or TEXT alone.
Failure refusal(const char* text, const char* action = nullptr,
                const char* name = nullptr);

// The exit statuses of both programs.
enum Status {
  kDone = 0,         // the folder is in the state the program is for
  kFailed = 1,       // the switch was not made; one line says why
  kNothingHere = 2,  // neither kConfigFile nor kBackupFile is in the folder
};

// What the folder holds after a failure, for the end of its line.
inline constexpr char kUnchanged[] = "nothing was changed";

// What a run did, or would do: the words after "changed:" or "would
// change:", or after "no change:" (then |would| and |did| are the same).
struct Words {
  const char* would = nullptr;
  const char* did = nullptr;
  const char* note = nullptr;  // said after them, where set
};

// How a run ends.
struct Outcome {
  Status status = kDone;
  Failure failure;               // kFailed: what failed
  const char* state = kUnchanged;  // kFailed: what the folder holds now
  Words words;                   // kDone: what was done
  bool changed = false;          // kDone: the folder was changed
};

Outcome failed(const Failure& failure, const char* state = kUnchanged);
Outcome nothing_here();
Outcome no_change(const char* words);
Outcome changed(Words words);

// --- The plan -------------------------------------------------------------------------

// What a run carries out; each program decides its own from the facts.
enum class Step {
  none,                 // nothing: the outcome is the plan's own
  switch_to_bot,        // install: build from liblist.gam, keep the original
  finish_switch,        // install: build from the backup alone
  restore,              // uninstall: rename the backup over liblist.gam
  rebuild,              // uninstall: build from liblist.gam's head
  rebuild_beside_backup,  // uninstall: the same, the backup unreadable
};

struct Plan {
  Step step = Step::none;
  // How the run ends when every step works (the words of a change).
  Outcome outcome;
};

// A plan that changes the folder by |step|, with |words|.
Plan change(Step step, Words words);
// A plan that ends at once with |outcome|.
Plan end_with(Outcome outcome);

// The refusals that both programs make before either decides: a lock
// that was not taken, a folder, FIFO, device or socket or a link that is not
// followed at either name, another account's file in a sticky folder, and a
// backup name that cannot be dropped as a second name.
std::optional<Failure> refuse_unsafe(const Facts& facts);

// The refusal of a plan that would change a folder that does not allow it:
// append-only, or (foreseen by a dry run) not writable.
std::optional<Failure> refuse_unchangeable(const Facts& facts);

// The refusal of both programs where a backup stands beside a liblist.gam
// from which the bot's entry was deleted by hand: the backup is no stale
// copy but the original, and must not be deleted.
inline constexpr char kBotLineDeleted[] =
    "liblist.gam has the bot's comment lines but none of its gamedll lines, so "
    "the bot's line was probably deleted by hand, and liblist_tv_backup.gam holds "
    "your original from before the install; put the bot's gamedll line back "
    "(commented out, for MetaMod), or rename liblist_tv_backup.gam to liblist.gam "
    "to get your original back";

// The failure that an unreadable |found| at |name| makes.
Failure cannot_open(const Found& found, const char* name);
// The failure of a reading of |name| into |text| that did not end.
Failure cannot_read(const Text& text, const char* name);
// The failure where the file |name|, at |found|, was not read through into
// |text|: it could not be opened, or the reading failed.
std::optional<Failure> cannot_use(const Found& found, const Text& text, const char* name);
// The refusal to build from (|action|) |name|, larger than kLargestBuild.
Failure too_large(const char* action, const char* name);

// --- Replacing liblist.gam --------------------------------------------------------------

// The bytes of a new file, in order: a head, a block of at most a dozen
// lines with their line ends, and a tail.
struct Parts {
  std::array<std::string_view, 32> list;
  size_t count = 0;
  void add(std::string_view part) {
    if (count == list.size()) std::abort();  // never: the blocks are fixed
    list[count++] = part;
  }
  // Adds each of |lines| followed by |line_end|.
  void add_lines(std::span<const char* const> lines, std::string_view line_end);
  std::span<const std::string_view> all() const { return {list.data(), count}; }
};

// A new file made in kScratchFile, as the replacement of an open file: it
// is written, finished with the original's permissions and flushed to disk,
// then committed over its name by one rename.  Unless it was committed,
// the scratch file is removed when the object goes, so no caller ever
// removes it by hand.
class Replacement {
 public:
  // Creates kScratchFile; failure() says when that failed.
  Replacement();
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  std::optional<Failure> failure() const { return failure_; }
  // Writes |parts| in order.
  std::optional<Failure> write(std::span<const std::string_view> parts);
  // Gives it the permissions of the open file |original| named
  // |original_name|, flushes it to disk and closes it.
  std::optional<Failure> finish(int original, const char* original_name);
  // Renames it over |name| in one step and flushes the folder.
  std::optional<Failure> commit(const char* name);

 private:
  Descriptor file_;
  std::optional<Failure> failure_;
  bool made_ = false;
  bool committed_ = false;
};

// Replaces kConfigFile by |parts|, built as the replacement of |original|
// named |original_name|: build, finish, then (|keep_original|) keep the
// original under kBackupFile, as a second name or, without hard links, by
// moving it there, then commit, undoing the backup when the commit fails.
// kConfigFile is at every moment the original or the complete new file.
Outcome replace_config(Facts& facts, Found& original,
                       const char* original_name, const Parts& parts,
                       bool keep_original, Words words);

// --- The run ---------------------------------------------------------------------------

// What each program brings to the run.
struct Program {
  const char* name;     // "install"
  const char* usage;    // the first lines of --help
  const char* success;  // what exit status 0 means, for --help
  bool checks_library;  // looks for the bot's library before deciding
  // The decision table, from facts that passed refuse_unsafe(): no
  // file-system call.
  Plan (*decide)(const Facts&);
  // The steps of a plan that changes the folder, once a backup name that is
  // only a second name of liblist.gam is removed (as it is, too, before a
  // plan that ends well without a change).
  Outcome (*carry_out)(Facts&, const Plan&);
};

// Runs |program| with its command line: reads the folder, decides, and
// carries the plan out or shows it; prints the lines; the exit status.
int run_program(const Program& program, int argc, char** argv);
