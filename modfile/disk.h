// Every call that the programs make on the file system and the process,
// each with its contract.  posix.cc and windows.cc implement them, one file
// for each platform; nothing outside those two files knows the platform.
//
// All names are relative to the current folder, the mod's folder, which
// enter_folder() may set first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

// The system's reason for the call that has just failed, as one line.
struct Reason {
  char text[256] = "";
};

// The reason for the call that has just failed (errno; on Windows the last
// error, with advice where access was denied).
Reason last_reason();

// Whether the call that has just failed was refused as not permitted to
// anyone but root (EPERM: an append-only or immutable folder, say).
bool last_call_not_permitted();

// Closes the descriptor |fd|: true when nothing written through it was lost.
bool close_descriptor(int fd);

// An open descriptor (the C runtime's on Windows), closed when it goes.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    reset();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  ~Descriptor() { reset(); }
  // Closes it now; a read-only or discarded file loses nothing by it.
  void reset() {
    if (fd_ >= 0) (void)close_descriptor(std::exchange(fd_, -1));
  }
  int get() const { return fd_; }
  // Gives the descriptor up, so that the caller closes it and sees how.
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// --- The process -------------------------------------------------------------

// Makes the inherited process state safe for a run: a file-size limit or a
// closed pipe then fails the write instead of killing the process.
void settle_process();

// Room for the words of a command line, where the system gives them as one
// wide string (Windows): 32767 characters at most, so at most 16384 words,
// in UTF-8.
struct CommandLine {
  const char* words[16384];
  char text[3 * 32768];
};

// The words after the program's name: argv elsewhere; on Windows the wide
// command line split as the C runtime splits it, in UTF-8, into |room|.
std::span<const char* const> command_words(int argc, char** argv,
                                           CommandLine& room);

// Makes |folder| the current folder: true on success.
bool enter_folder(const char* folder);

// Whether the program's console is its own (a double-click or a dropped
// folder on Windows) rather than a command prompt's or a script's.
bool own_console();

// Keeps the program's own console open for a few seconds, longer after a
// failure, so that its last line can be read.
void hold_window(bool failed);

// --- The folder ------------------------------------------------------------------

enum class LockResult {
  locked,    // this run holds the lock
  no_locks,  // the file system offers no locks: the run goes on without
  busy,      // another process held a lock on the folder past the wait
  failed,    // the folder could not be opened or locked
};

// The exclusive lock on the current folder that every run of either
// program holds from its first look at the folder to its last change; the
// system lets it go when the process ends, however it ends.
class FolderLock {
 public:
  // Takes the lock, trying again over a few seconds while another process
  // holds it; no signal is used.  |reason| tells why it failed.
  FolderLock();
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  LockResult result() const { return result_; }
  const Reason& reason() const { return reason_; }

 private:
  LockResult result_;
  Reason reason_;
  std::intptr_t held_ = -1;  // the descriptor or handle that holds it
};

// What the current folder allows, as far as the decision needs it.
struct Folder {
  // Only the owner of a name, the folder's owner and root may rename or
  // remove it (a sticky folder, mode 1777): POSIX.
  bool sticky = false;
  // Root runs in a folder that another account owns or may write, so that
  // it follows no symbolic link there: POSIX.
  bool guarded = false;
  // Files may be made in the folder, but never renamed or removed
  // (chattr +a): Linux.
  bool append_only = false;
  // The account the program runs as, and the folder's owner; -1 where the
  // system has no such numbers (Windows).
  long long runner = -1;
  long long owner = -1;
  // The folder's full path as the system resolves it, in UTF-8, where the
  // system tells it (Windows Vista and later); empty elsewhere.
  char final_path[1024] = "";
};

// Looks at the current folder.
Folder look_at_folder();

// Whether this run may make, rename and remove files in the current folder,
// as far as permissions tell without trying: true when it may or that
// cannot be told; false with |reason| filled when not.
bool folder_writable(Reason* reason);

// --- Names -----------------------------------------------------------------------

enum class Kind {
  missing,       // nothing at the name
  regular,       // a regular file, open for reading
  unreadable,    // something that cannot be opened (no permission, a
                 // dangling link); it takes the name
  special,       // a folder, FIFO, device or socket: never read or replaced
  foreign_link,  // a symbolic link of another account than the runner's or
                 // root's: never followed
  guarded_link,  // a symbolic link in a guarded folder: never followed
};

// Which file a name leads to.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

// What stands at a name, as one look and one open found it.
struct Found {
  Kind kind = Kind::missing;
  bool link = false;      // the name itself is a symbolic link (a reparse
                          // point on Windows)
  bool dangling = false;  // a link whose target is missing
  // Removing or moving the name acts on this name in this folder: false
  // where it would act on a file elsewhere that it leads to (Wine shows a
  // Unix link as its target).  True wherever that cannot be told.
  bool here = true;
  long long owner = -1;     // the name's owner; -1 where not known
  FileId id;                // the file it leads to (regular)
  unsigned long links = 0;  // that file's number of names (regular)
  std::uint64_t size = 0;   // its size in bytes when it was opened
  Reason reason;            // why it is unreadable
  Descriptor file;          // open for reading (regular)
};

// Looks at |name| and opens it for reading where it is a regular file that
// may be read: a name that is not a link is opened without following a
// link, without blocking and without taking a terminal, and told from the
// open descriptor (what is not a regular file at the look is not opened);
// a link of the runner's or root's is followed where the folder is not
// guarded, its target looked at first (a device behind it is not opened),
// and the opened file must be that target.
Found look_at(const char* name, const Folder& folder);

// Whether something other than a folder stands at |path|, following links
// (a dangling link counts as nothing).  Nothing is opened.
bool file_exists(const char* path);

// Whether anything at all stands at |name|, a dangling link included: true
// when it does or when that cannot be told.
bool name_taken(const char* name);

// Whether removing |name| would act on that name in this folder (see
// Found::here).  True where it cannot be told or nothing is there.
bool removes_here(const char* name, const Folder& folder);

// --- Reading and writing -----------------------------------------------------------

// Reads the next bytes of |fd| into |buffer|, a CR LF counting as one line
// feed on Windows: how many, 0 at the end of the file, -1 on failure.
long read_text(int fd, std::span<char> buffer);

// Creates |name| for writing (in text mode on Windows: a line feed becomes
// CR LF) only where nothing stands at that name, never following a link:
// the descriptor, or none.
Descriptor create_file(const char* name);

// Writes all of |text| to |fd|: true when all of it was taken.
bool write_text(int fd, std::string_view text);

// Lets go of the open original |file| where the system cannot rename over
// or move a file that is open (Windows, where nothing is copied from it
// afterwards); elsewhere it stays open, and its permissions can still be
// copied from it.
void release_before_rename(Descriptor& file);

// Gives the new file |to| the permission bits and access ACL of the open
// file |from| and, where the process may, its owner and group: true when it
// has the bits and the ACL afterwards.  On Windows the new file keeps what
// it inherited from the folder: true.
bool copy_permissions(int to, int from);

// Forces what has been written to |fd| onto the disk: true on success.
bool flush_file(int fd);

// Forces the current folder's entries onto the disk: true on success;
// false where the file system refuses it.
bool sync_folder();

// Removes the file or link |name|, never a link's target, never a folder:
// true on success.
bool remove_name(const char* name);

// Gives the file at |from| the second name |to| (a hard link; a symbolic
// link at |from| is linked itself), then tries to flush the folder: true
// on success; false when |to| is taken or the file system has no hard
// links.
bool link_name(const char* from, const char* to);

// Renames |from| to |to| only where nothing stands at |to|, then tries to
// flush the folder: true on success; on failure both names are unchanged.
bool rename_name(const char* from, const char* to);

// Renames |from| over |to| in one step, replacing what stands at |to|, then
// tries to flush the folder: true on success; on failure both are
// unchanged.
bool replace_name(const char* from, const char* to);

// Sets the modification time of |name| to now, never a link's target's:
// true on success.
bool touch_name(const char* name);

// --- The system's own words ------------------------------------------------------

// The system the programs are built for, as its users call it.
extern const char kSystemName[];

// The bot's library that the engine of this system loads from a
// liblist.gam that install wrote, for Day of Defeat (|dod|) or another
// game, as a path from the mod folder; nullptr where it loads the game's
// own library instead.
const char* bot_library(bool dod);
