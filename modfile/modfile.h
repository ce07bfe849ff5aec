// The mod description file, its backup and the scratch file, and what both
// programs share: one reading of the folder into facts, failures and
// outcomes, plans, and the sequence that replaces liblist.gam (the run
// itself is in run.h).
//
// A run reads what the folder holds once, under the folder lock, into one
// value of Facts (and the program's own facts, through what the program
// hands the reading); each program decides its Plan from the facts alone,
// with no file-system call; then the plan is carried out, or only shown
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
// piece up to and including the first one that holds "mpentity", and the
// rest of its line; without one, the whole file.
struct Text {
  // The bytes read (on Windows CR LF as LF), from the start; the reading
  // stops after the bot's lines, which nothing that follows can outweigh.
  Bytes bytes;
  bool read = false;       // read without an error, as far as a decision needs
  SystemError read_error;  // why not, where it was tried
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
  // A line that install replaces is the active entry that this system's
  // engine loads, and it loads MetaMod (see engine_entry_replaced()).
  bool metamod_entry = false;
  // Where the tail starts: the start of the first line after the head
  // with a piece that holds "gamedll_osx" (Day of Defeat) or
  // "gamedll_linux"; kNone for none.
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t tail_start = kNone;

  // The head, and the tail install keeps (empty where no piece holds the
  // marker): parts of |bytes|, empty where they were not kept.
  std::string_view head() const { return part_of(bytes.view(), 0, head_size); }
  std::string_view tail() const {
    return tail_start == kNone ? std::string_view() : part_of(bytes.view(), tail_start);
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
  SystemError lock_error;
  Folder folder;
  Found config;   // kConfigFile
  Found backup;   // kBackupFile
  Found scratch;  // kScratchFile: a leftover of a run that was stopped
  // The backup name leads to kConfigFile's own file: no backup of its own.
  bool second_name = false;
  // A backup beside a liblist.gam with an mpentity line and none of the
  // bot's lines holds exactly its bytes (a game update put the same file
  // back): nothing is lost without it.  Compared only in that state.
  bool backup_same = false;
  // What stands at the backup name, as the decision sees it: nothing where
  // it is only a second name of kConfigFile, which a change removes first.
  Kind backup_kind() const { return second_name ? Kind::missing : backup.kind; }
  // The text of kConfigFile, or of kBackupFile where kConfigFile is
  // missing.
  Text text;
};

// Looks at the folder's three names and reads the text that a plan needs.
void read_folder(Facts& facts);

// Lets go of both open originals before a rename over or of them, where
// the system requires it (see release_before_rename()).
void release_originals(Facts& facts);

// --- Failures and outcomes ---------------------------------------------------------

// What could not be done and why, as its line says it: "ACTION NAME[ to
// OTHER]: REASON", the reason the system's or the program's own.
struct Failure {
  std::string_view action;  // "cannot rename", ...; empty where the
                            // reason says it all
  std::string_view name;    // the file or folder it was done to
  std::string_view other;   // the new name, for a rename
  SystemError error;        // the system's reason; or
  std::array<std::string_view, 3> text;  // the program's own, in pieces
  long long user = -1;      // where set, the reason starts "it belongs to
                            // user USER" before |text|
};

// A call that failed with |error|: "ACTION NAME[ to OTHER]: SYSTEM'S REASON".
Failure failed_call(SystemError error, std::string_view action, std::string_view name,
                    std::string_view other = {});
// A refusal for what the folder holds: "ACTION NAME: TEXT", or TEXT alone.
Failure refusal(std::string_view text, std::string_view action = {}, std::string_view name = {});

// A value made, or the failure that kept it from being made.
template <class T>
struct Made {
  std::optional<T> value;
  Failure failure;
};

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
  std::string_view would;
  std::string_view did;
  std::string_view note;  // said after them, where set
  // Said after them too, and by a run without --dry-run or --verbose on
  // standard error as "PROGRAM: note: WARNING", where set: what a user
  // must not miss.
  std::string_view warning;
};

// How a run ends.
struct Outcome {
  Status status = kDone;
  Failure failure;                        // kFailed: what failed
  std::string_view folder_now = kUnchanged;  // kFailed: what the folder holds now
  Words words;                            // kDone: what was done
  bool made_change = false;               // kDone: the folder was changed
};

Outcome failed(const Failure& failure, std::string_view folder_now = kUnchanged);
Outcome nothing_here();
Outcome no_change(std::string_view words);
Outcome did_change(Words words);

// Removes the backup name, once both open originals are let go of: how it
// failed, if it did.
std::optional<Failure> remove_backup(Facts& facts);

// The failure that an unreadable |found| at |name| makes.
Failure cannot_open(const Found& found, const char* name);
// The failure where the file |name|, at |found|, was not read through into
// |text|: it could not be opened, or the reading failed.
std::optional<Failure> cannot_use(const Found& found, const Text& text, const char* name);
// The refusal to build from (|action|) |name|, larger than kLargestBuild.
Failure too_large(const char* action, const char* name);

// --- The plan -------------------------------------------------------------------------

// The part of a plan that both programs share: how the run ends when every
// step works, and which of the shared steps it takes.
struct Plan {
  Outcome outcome;
  bool changes = false;  // the program's own steps change the folder
  bool builds = false;   // they build a new file in kScratchFile
  // A backup name that is only a second name of liblist.gam is removed
  // before the program's own steps.
  bool drops_second_name = false;
  // So is a leftover of a run that was stopped at the scratch name (said
  // only where the plan builds no file there itself).
  bool clears_leftover = false;
};

// A plan that changes the folder, with |words|, and |builds| a new file in
// kScratchFile.
Plan plan_change(Words words, bool builds);
// A plan that ends at once with |outcome|.
Plan plan_end(Outcome outcome);

// What a plan does to a name: nothing, renames it, or replaces or removes
// it.
enum class Touch { none, moved, replaced };
struct Touches {
  Touch config = Touch::none;
  Touch backup = Touch::none;
  bool builds = false;  // builds a new file in kScratchFile
};

// The refusal of a plan that would change a folder that does not allow it
// (append-only, or not writable), or touch a pinned file as |touches| says,
// or build where a leftover at the scratch name cannot be cleared.
std::optional<Failure> refuse_unchangeable(const Facts& facts, Touches touches);

// Why root follows no symbolic link in a folder that another account owns
// or may write, with the way out.
inline constexpr char kGuardedLink[] =
    "it is a symbolic link in a folder that another account owns or may change, "
    "where root follows no link; run the program as the account that owns the "
    "folder, or put the file itself in place of the link";

// Why a name that leads to a file elsewhere is not removed, with the way
// out.
inline constexpr char kRemovesElsewhere[] =
    "it leads to a file in another place, which removing it would remove; remove the link "
    "itself by hand";

// The refusals that come before any decision: a lock that was not taken, a
// folder, FIFO, device or socket or a link that is not followed at either
// name, another account's file in a sticky folder, a backup name that
// cannot be dropped as a second name, a leftover that leads elsewhere.
std::optional<Failure> refuse_unsafe(const Facts& facts);

// Whether a leftover stands at the scratch name that a run removes before
// anything else.
bool leftover_to_clear(const Facts& facts);

// The refusal of both programs where a backup stands beside a liblist.gam
// from which the bot's entry was deleted by hand: the backup is no stale
// copy but the original, and must not be deleted.
Failure bot_line_deleted();

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

// Replaces kConfigFile by |parts|, built as the replacement of |original|
// named |original_name|: build, finish, then (|keep_original|) keep the
// original under kBackupFile, as a second name or, without hard links, by
// moving it there, then commit, undoing the backup when the commit fails.
// kConfigFile is at every moment the original or the complete new file.
Outcome replace_config(Facts& facts, Found& original, const char* original_name,
                       const Parts& parts, bool keep_original, Words words);

