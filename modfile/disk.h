// Every call that the programs make on the file system, each with its
// contract.  posix.cc and windows.cc implement them, one file for each
// platform; nothing outside those two files knows the platform.
//
// A call that can fail returns why as a value: a SystemError, empty where
// the call worked.  All names are relative to the current folder, the mod's
// folder, which enter_folder() (process.h) may set first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "bytes.h"

// --- Failures ----------------------------------------------------------------------

// Why a call of the system failed: the system's own error number (errno;
// on Windows the last error), taken where the call returned; empty (false)
// where it did not fail.
class [[nodiscard]] SystemError {
 public:
  SystemError() = default;
  explicit SystemError(unsigned long code) : code_(code) {}
  explicit operator bool() const { return code_ != 0; }
  unsigned long code() const { return code_; }

 private:
  unsigned long code_ = 0;
};

// The error of a system that has run out of memory.
SystemError out_of_memory();

// Appends the system's words for |error| to |line| as a part of one line
// (on Windows, with advice where access was denied).
void describe(SystemError error, Bytes& line);

// Whether |error| refuses a step to anyone but root (EPERM: an append-only
// or immutable folder, say); never on Windows, which says "access denied"
// for every refusal.
bool not_permitted(SystemError error);

// A value, or why it could not be had.
template <class T>
struct Result {
  T value{};
  SystemError error;
};

// --- Descriptors -------------------------------------------------------------------

// Closes the descriptor |fd|: empty when nothing written through it was lost.
SystemError close_descriptor(int fd);

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

// --- The folder ----------------------------------------------------------------------

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
  // holds it; no signal is used.
  FolderLock();
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  LockResult result() const { return result_; }
  SystemError error() const { return error_; }  // why it failed

 private:
  LockResult result_;
  SystemError error_;
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
  // Whether this run may make, rename and remove files in it, as far as
  // permissions tell without trying (true where that cannot be told), and
  // why not.
  bool writable = true;
  SystemError write_error;
  // The account the program runs as, and the folder's owner; -1 where the
  // system has no such numbers (Windows).
  long long runner = -1;
  long long owner = -1;
  // The folder's full path as the system resolves it, in UTF-8, where the
  // system tells it (Windows Vista and later); empty elsewhere.
  Bytes final_path;
};

// Looks at the current folder.
Folder look_at_folder();

// --- Names -----------------------------------------------------------------------

enum class Kind {
  missing,       // nothing at the name
  regular,       // a regular file
  unreadable,    // something that cannot be opened (no permission, a
                 // dangling link); it takes the name
  folder,        // a folder: never read or replaced
  special,       // a FIFO, device or socket: never read or replaced
  link,          // a symbolic link, looked at as itself
  foreign_link,  // a symbolic link of another account than the runner's or
                 // root's: never followed
  guarded_link,  // a symbolic link in a guarded folder: never followed
};

// What keeps a file from being renamed, replaced or removed by anyone.
enum class Pin {
  none,
  immutable,    // chattr +i (Linux): no rename, replace, link or removal
  append_only,  // chattr +a (Linux): the same
  read_only,    // the read-only attribute (Windows): no replace or removal;
                // a rename of the file itself is allowed
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
  Pin pin = Pin::none;      // of a name that is no link; none where unknown
  long long owner = -1;     // the name's owner; -1 where not known
  FileId id;                // the file it leads to (regular)
  unsigned long links = 0;  // that file's number of names (regular)
  std::uint64_t size = 0;   // its size in bytes when it was opened
  SystemError error;        // why it is unreadable
  // guarded_link: where root's own link leads through a link of another
  // account's, or in another account's folder, that root follows not: that
  // link's path; empty where the link at the name itself is not followed.
  Bytes refused_at;
  bool changed = false;     // unreadable: it led to another file at the
                            // open than at the look, and was never read
  Descriptor file;          // open for reading (regular, by look_at())
};

// Looks at |name| and opens it for reading where it is a regular file that
// may be read: a name that is not a link is opened without following a
// link, without blocking and without taking a terminal, and told from the
// open descriptor (what is not a regular file at the look is not opened);
// a link of the runner's or root's is followed where the folder is not
// guarded (by root one step at a time, as enter_folder() follows a path),
// its target looked at first (a device behind it is not opened), and the
// opened file must be that target.
Found look_at(const char* name, const Folder& folder);

// Looks at |name| as a name to be removed, following no link: a regular
// file is opened without following a link or blocking, only to read its
// pin, and closed again (|file| stays empty); on Windows, |here| tells
// whether removing the name would remove a file elsewhere.
Found look_at_leftover(const char* name, const Folder& folder);

// What a look for a file along a path found.
struct PathLook {
  Kind kind = Kind::missing;  // regular, missing, or guarded_link
  Bytes at;                   // guarded_link: the path of the link that
                              // root follows not
};

// Looks for a regular file at the relative |path| without opening it: run
// as root, the path is followed one step at a time, as enter_folder()
// follows a path (a link that root follows not: guarded_link); anyone
// else's look follows links as the system does.  What cannot be reached,
// a folder included, is missing.
PathLook look_along(std::string_view path);

// Whether anything at all stands at |name|, a dangling link included: true
// when it does or when that cannot be told.
bool name_taken(const char* name);

// --- Reading and writing -----------------------------------------------------------

// Reads the next bytes of |fd| into |buffer|, a CR LF counting as one line
// feed on Windows: how many, 0 at the end of the file.
Result<size_t> read_text(int fd, std::span<char> buffer);

// Reads the bytes of |fd| as stored (CR LF as CR LF) from |offset| into
// all of |buffer|, as far as the file goes: how many.
Result<size_t> read_at(int fd, std::span<char> buffer, std::uint64_t offset);

// Creates |name| for writing (in text mode on Windows: a line feed becomes
// CR LF) only where nothing stands at that name, never following a link.
Result<Descriptor> create_file(const char* name);

// Writes all of |text| to |fd|.
SystemError write_text(int fd, std::string_view text);

// Lets go of the open original |file| where the system cannot rename over
// or move a file that is open (Windows, where nothing is copied from it
// afterwards); elsewhere it stays open, and its permissions can still be
// copied from it.
void release_before_rename(Descriptor& file);

// Gives the new file |to| the permission bits and access ACL of the open
// file |from| and, where the process may, its owner and group: fails
// unless it has the bits and the ACL afterwards.  On Windows the new file
// keeps what it inherited from the folder.
SystemError copy_permissions(int to, int from);

// Forces what has been written to |fd| onto the disk.
SystemError flush_file(int fd);

// Removes the file or link |name|, never a link's target, never a folder.
SystemError remove_name(const char* name);

// Gives the file at |from| the second name |to| (a hard link; a symbolic
// link at |from| is linked itself), then tries to flush the folder; fails
// when |to| is taken, or the file system has no hard links or refuses this
// one (Linux refuses a link to another account's file that the runner may
// not both read and write, where it protects hard links).
SystemError link_name(const char* from, const char* to);

// Renames |from| to |to| only where nothing stands at |to|, then tries to
// flush the folder; on failure both names are unchanged.
SystemError rename_name(const char* from, const char* to);

// Renames |from| over |to| in one step, replacing what stands at |to|, then
// tries to flush the folder; on failure both are unchanged.
SystemError replace_name(const char* from, const char* to);

// Sets the modification time of |name| to now, never a link's target's.
SystemError touch_name(const char* name);

// --- The system's own words ------------------------------------------------------

// The system the programs are built for, as its users call it.
extern const char kSystemName[];

// How a user of this system puts the backup back as liblist.gam by hand,
// as words of advice: the backup called "it" or by its name, beside a
// liblist.gam or alone.
enum class RenameBack { it, backup, backup_alone };
const char* rename_back_by_hand(RenameBack how);

// What separates the folders of a path: '/', or '\\' on Windows.
extern const char kPathSeparator;

// The bot's library that the engine of this system loads from a
// liblist.gam that install wrote, for Day of Defeat (|dod|) or another
// game, as a path from the mod folder; nullptr where it loads the game's
// own library instead.
const char* bot_library(bool dod);

// The key of the entry in liblist.gam that names the library this
// system's engine loads, for Day of Defeat (|dod|) or another game, where
// install replaces that entry; nullptr where install keeps it.
const char* engine_entry_replaced(bool dod);
