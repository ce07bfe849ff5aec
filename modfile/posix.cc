// The file layer and the process on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "disk.h"
#include "process.h"

const char kSystemName[] = "Linux";
const char kPathSeparator = '/';

const char* bot_library(bool dod) {
  // The bot has a Linux library only for Day of Defeat; every other game's
  // Linux server keeps loading the game's own.
  return dod ? "tavrel/tavrel.so" : nullptr;
}

const char* rename_back_by_hand(RenameBack how) {
  return how == RenameBack::it ? "rename it to liblist.gam" : "rename liblist_tv_backup.gam to liblist.gam";
}

const char* engine_entry_replaced(bool dod) {
  return dod ? "gamedll_linux" : nullptr;
}

// How long a run waits for another run in the same folder to finish.
static constexpr long long kLockWaitMs = 5000;

// At most this many symbolic links on the way to a folder, as the system
// itself allows.
static constexpr int kMostLinks = 40;

// The error of the call that has just failed.
static SystemError last_error() {
  return SystemError(static_cast<unsigned long>(errno));
}

// The result of a call that returns 0 on success and -1 with errno set.
static SystemError checked(int result) {
  return result == 0 ? SystemError() : last_error();
}

SystemError out_of_memory() {
  return SystemError(ENOMEM);
}

void describe(SystemError error, Bytes& line) {
  (void)line.append(std::strerror(static_cast<int>(error.code())));
  // Mostly a folder of another account's, run by the wrong account.
  if (error.code() == EACCES) (void)line.append(" (run the program as the account that owns the mod folder)");
}

bool not_permitted(SystemError error) {
  return error.code() == EPERM;
}

SystemError close_descriptor(int fd) {
  return checked(close(fd));
}

// --- The process -------------------------------------------------------------

void settle_process() {
  // A file-size limit then fails the write with EFBIG, and a closed pipe
  // only loses a message: neither kills the run midway.
  (void)signal(SIGXFSZ, SIG_IGN);
  (void)signal(SIGPIPE, SIG_IGN);
}

int main(int argc, char** argv) {
  if (argc < 1) return program_main({});
  return program_main({argv + 1, static_cast<size_t>(argc - 1)});
}

bool own_console() {
  // A terminal window stays open after the program.
  return false;
}

void hold_window(bool) {}

// --- The way to the folder ---------------------------------------------------------

// Whether root, in the folder |about|, follows no link: another account
// owns the folder or may write in it, and so can change where any link
// there leads.
static bool guards_links(const struct stat& about) {
  return geteuid() == 0 &&
         (about.st_uid != 0 || (about.st_mode & (S_IWGRP | S_IWOTH)) != 0);
}

// Opens the folder |name| in the open folder |at| as itself, never through
// a link.
static Result<Descriptor> open_folder(int at, const char* name) {
  Descriptor folder(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) return {Descriptor(), last_error()};
  return {std::move(folder), SystemError()};
}

// Appends the text of the link |name| in the open folder |at| of |size|
// bytes (as a look found it) to |out|.
static SystemError read_link(int at, const char* name, size_t size, Bytes& out) {
  for (size_t room = size + 1;; room *= 2) {
    std::span<char> space = out.room(room);
    if (space.size() < room) return out_of_memory();
    ssize_t got = readlinkat(at, name, space.data(), room);
    if (got < 0) return last_error();
    // A link that grew since the look is read again with more room.
    if (static_cast<size_t>(got) < room) {
      out.keep(static_cast<size_t>(got));
      return SystemError();
    }
  }
}

namespace {

// A path followed as root, one step at a time, as systemd's chase() does: a
// symbolic link on the way is followed by its text, and only where it
// belongs to root in a folder that no other account owns or may write.
class Walk {
 public:
  explicit Walk(std::string_view path) { (void)pending_.append(path); }

  // Walks the whole path, its last step a folder too: the folder reached,
  // entered, or why not.
  Entered to_folder();
  // Walks the path to its last step, followed where it is a link: the open
  // folder that holds what the path names, its name there and what stands
  // there, looked at as itself (the error), or the link that was not
  // followed (|refused|).
  struct Named {
    Descriptor folder;
    Bytes name;
    struct stat about {};
    SystemError error;
    Bytes refused;
  };
  Named to_name();

 private:
  // Walks the path; with |to_name|, it stops before opening its last step.
  SystemError walk(bool to_name);
  // Takes the next step of the pending path into |step_|: false at its end.
  bool next_step();
  // Whether |step_| is the last step of the path.
  bool last_step() const;
  // Goes through the link |step_| of |size| bytes owned by |owner|: follows
  // it, or refuses it into |refused_|.
  SystemError through_link(uid_t owner, size_t size);
  // Follows the link |step_| in the current folder, whose text the pending
  // path then starts with.
  SystemError follow_link(size_t size);

  Bytes pending_;     // what is left of the path, from |at_| on
  size_t at_ = 0;
  Bytes step_;        // the current step, NUL-terminated
  Bytes walked_;      // the path walked so far, for a refusal
  Bytes refused_;     // the link that was not followed
  Descriptor folder_;
  int links_ = 0;
};

bool Walk::next_step() {
  std::string_view path = pending_.view();
  at_ = std::min(path.find_first_not_of('/', at_), path.size());
  if (at_ == path.size()) return false;
  std::string_view step = part_of(path, at_, path.find('/', at_) - at_);
  at_ += step.size();
  step_.clear();
  return step_.append(step) && step_.c_str() != nullptr;
}

bool Walk::last_step() const {
  return part_of(pending_.view(), at_).find_first_not_of('/') == std::string_view::npos;
}

SystemError Walk::through_link(uid_t owner, size_t size) {
  struct stat holder;
  if (fstat(folder_.get(), &holder) != 0) return last_error();
  if (owner == 0 && !guards_links(holder)) return follow_link(size);
  refused_ = std::move(walked_);
  return refused_.append(step_.view()) ? SystemError() : out_of_memory();
}

SystemError Walk::follow_link(size_t size) {
  if (++links_ > kMostLinks) return SystemError(ELOOP);
  Bytes path;
  if (SystemError error = read_link(folder_.get(), step_.c_str(), size, path)) return error;
  if (!path.append(part_of(pending_.view(), at_))) return out_of_memory();
  pending_ = std::move(path);
  at_ = 0;
  if (pending_.view().starts_with('/')) {
    walked_.clear();
    Result<Descriptor> top = open_folder(AT_FDCWD, "/");
    if (top.error) return top.error;
    folder_ = std::move(top.value);
    (void)walked_.append("/");
  }
  return SystemError();
}

SystemError Walk::walk(bool to_name) {
  if (pending_.view().empty()) return SystemError(ENOENT);
  bool absolute = pending_.view().starts_with('/');
  Result<Descriptor> start = open_folder(AT_FDCWD, absolute ? "/" : ".");
  if (start.error) return start.error;
  folder_ = std::move(start.value);
  if (absolute) (void)walked_.append("/");
  while (next_step()) {
    if (step_.view() == ".") continue;
    struct stat about;
    if (fstatat(folder_.get(), step_.c_str(), &about, AT_SYMLINK_NOFOLLOW) != 0) return last_error();
    if (S_ISLNK(about.st_mode)) {
      SystemError error = through_link(about.st_uid, static_cast<size_t>(about.st_size));
      if (error || !refused_.view().empty()) return error;
      continue;
    }
    if (to_name && last_step()) return SystemError();
    Result<Descriptor> next = open_folder(folder_.get(), step_.c_str());
    if (next.error) return next.error;
    folder_ = std::move(next.value);
    if (!walked_.append(step_.view()) || !walked_.append("/")) return out_of_memory();
  }
  // A path that ends in a folder itself names "." there.
  step_.clear();
  return step_.append(".") && step_.c_str() != nullptr ? SystemError() : out_of_memory();
}

Entered Walk::to_folder() {
  Entered entered;
  entered.error = walk(false);
  if (!entered.error && !refused_.view().empty()) entered.guarded_link = std::move(refused_);
  else if (!entered.error) entered.error = checked(fchdir(folder_.get()));
  return entered;
}

Walk::Named Walk::to_name() {
  Named named;
  named.error = walk(true);
  if (!named.error && refused_.view().empty() &&
      fstatat(folder_.get(), step_.c_str(), &named.about, AT_SYMLINK_NOFOLLOW) != 0)
    named.error = last_error();
  named.refused = std::move(refused_);
  named.folder = std::move(folder_);
  named.name = std::move(step_);
  return named;
}

}  // namespace

Entered enter_folder(const char* path) {
  if (geteuid() != 0) return {checked(chdir(path)), Bytes()};
  return Walk(path).to_folder();
}

// --- The folder ------------------------------------------------------------------

// Sleeps |ms| milliseconds; an interruption only shortens the sleep.
static void pause_ms(long ms) {
  struct timespec span = {ms / 1000, (ms % 1000) * 1000000L};
  (void)nanosleep(&span, nullptr);
}

// Milliseconds on a clock that never goes back.
static long long now_ms() {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

FolderLock::FolderLock() : result_(LockResult::failed) {
  // flock() on the folder itself: no file is made, and the lock goes with
  // the descriptor, which stays open as long as the object.
  Descriptor folder(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) {
    error_ = last_error();
    return;
  }
  // Non-blocking attempts over the wait, so that no signal is needed to
  // end it and no inherited signal mask or handler can make it hang.
  long long deadline = now_ms() + kLockWaitMs;
  for (;;) {
    if (flock(folder.get(), LOCK_EX | LOCK_NB) == 0) {
      result_ = LockResult::locked;
      held_ = folder.release();
      return;
    }
    SystemError error = last_error();
    if (error.code() == ENOLCK || error.code() == EOPNOTSUPP || error.code() == ENOTSUP) {
      result_ = LockResult::no_locks;  // some network file systems
      return;
    }
    if (error.code() != EWOULDBLOCK && error.code() != EINTR) {
      error_ = error;
      return;
    }
    if (now_ms() >= deadline) {
      result_ = LockResult::busy;
      return;
    }
    pause_ms(10);
  }
}

FolderLock::~FolderLock() {
  if (held_ >= 0) (void)close(static_cast<int>(held_));
}

// The pin of the open file |fd|: none where the system cannot tell.
static Pin pin_of(int fd) {
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return Pin::none;
  if ((flags & FS_IMMUTABLE_FL) != 0) return Pin::immutable;
  if ((flags & FS_APPEND_FL) != 0) return Pin::append_only;
#else
  (void)fd;
#endif
  return Pin::none;
}

// The pin of the regular file |name|, told without opening it where the
// system can (statx(), Linux 4.11 and later), else from the file opened
// without following a link or blocking; none where neither can tell.
static Pin pin_of_name(const char* name) {
#if defined(__linux__) && defined(STATX_ATTR_IMMUTABLE)
  struct statx about;
  constexpr auto kPins = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if (statx(AT_FDCWD, name, AT_SYMLINK_NOFOLLOW, 0, &about) == 0 &&
      (about.stx_attributes_mask & kPins) == kPins) {
    if ((about.stx_attributes & STATX_ATTR_IMMUTABLE) != 0) return Pin::immutable;
    return (about.stx_attributes & STATX_ATTR_APPEND) != 0 ? Pin::append_only : Pin::none;
  }
#endif
  Descriptor file(open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
  return file ? pin_of(file.get()) : Pin::none;
}

Folder look_at_folder() {
  Folder folder;
  folder.runner = geteuid();
  // Root follows no link where the folder cannot be looked at.
  folder.guarded = folder.runner == 0;
  if (faccessat(AT_FDCWD, ".", W_OK | X_OK, AT_EACCESS) != 0) {
    SystemError error = last_error();
    bool refused = error.code() == EACCES || error.code() == EPERM || error.code() == EROFS;
    folder.writable = !refused;
    if (refused) folder.write_error = error;
  }
  Descriptor self(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat about;
  if (!self || fstat(self.get(), &about) != 0) return folder;
  folder.owner = about.st_uid;
  folder.sticky = (about.st_mode & S_ISVTX) != 0;
  folder.guarded = guards_links(about);
  // Where the flags cannot be read, a rename that fails says so later.
  folder.append_only = pin_of(self.get()) == Pin::append_only;
  return folder;
}

// --- Names -----------------------------------------------------------------------

// Marks |found| unreadable, for the reason of the call that just failed.
static void mark_unreadable(Found& found) {
  found.kind = Kind::unreadable;
  found.error = last_error();
}

// The kind of a name that is neither a regular file nor a link.
static Kind other_kind(const struct stat& about) {
  return S_ISDIR(about.st_mode) ? Kind::folder : Kind::special;
}

// Takes the open regular file |file| into |found| where it is what the look
// found (|target|, for a link): otherwise it is never read.
static void take_open(Found& found, Descriptor file, const struct stat& target) {
  struct stat opened;
  if (!file || fstat(file.get(), &opened) != 0) return mark_unreadable(found);
  if (!S_ISREG(opened.st_mode)) {
    found.kind = other_kind(opened);  // put there since the look: never read
    return;
  }
  if (found.link && (opened.st_dev != target.st_dev || opened.st_ino != target.st_ino)) {
    found.kind = Kind::unreadable;  // the link was pointed elsewhere meanwhile
    found.changed = true;
    return;
  }
  found.kind = Kind::regular;
  if (!found.link) {
    found.pin = pin_of(file.get());
    found.owner = opened.st_uid;  // the file's, as opened
  }
  found.id = {static_cast<std::uint64_t>(opened.st_dev), static_cast<std::uint64_t>(opened.st_ino)};
  found.links = opened.st_nlink;
  found.size = static_cast<std::uint64_t>(opened.st_size);
  found.file = std::move(file);
}

// Looks at the file that root's own link |name| leads to, followed one step
// at a time (see Walk), and opens it where it is a regular file.
static Found look_through(const char* name, Found found) {
  Walk::Named named = Walk(name).to_name();
  if (!named.refused.view().empty()) {
    found.kind = Kind::guarded_link;  // on the way, another account's link
    found.refused_at = std::move(named.refused);
    return found;
  }
  if (named.error) {
    found.kind = Kind::unreadable;
    found.error = named.error;
    found.dangling = named.error.code() == ENOENT;
    return found;
  }
  if (!S_ISREG(named.about.st_mode)) {
    found.kind = other_kind(named.about);  // never opened
    return found;
  }
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
  take_open(found, Descriptor(openat(named.folder.get(), named.name.c_str(), flags)), named.about);
  return found;
}

Found look_at(const char* name, const Folder& folder) {
  Found found;
  struct stat own;
  if (lstat(name, &own) != 0) {
    if (errno != ENOENT) mark_unreadable(found);
    return found;
  }
  found.owner = own.st_uid;
  found.link = S_ISLNK(own.st_mode);
  struct stat target = own;
  if (found.link) {
    if (own.st_uid != geteuid() && own.st_uid != 0) {
      found.kind = Kind::foreign_link;  // it may lead anywhere its owner cannot read
      return found;
    }
    if (folder.guarded) {
      found.kind = Kind::guarded_link;  // root's own may lead on through the account's folders
      return found;
    }
    if (geteuid() == 0) return look_through(name, std::move(found));
    if (stat(name, &target) != 0) {
      found.dangling = errno == ENOENT;
      mark_unreadable(found);
      return found;
    }
  }
  if (!S_ISREG(target.st_mode)) {
    found.kind = other_kind(target);  // never opened
    return found;
  }
  // A name that is no link is opened as what it is: a link put there since
  // the look is refused.
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (found.link ? 0 : O_NOFOLLOW);
  take_open(found, Descriptor(open(name, flags)), target);
  return found;
}

Found look_at_leftover(const char* name, const Folder&) {
  Found found;
  struct stat own;
  if (lstat(name, &own) != 0) {
    if (errno != ENOENT) mark_unreadable(found);
    return found;
  }
  found.owner = own.st_uid;
  found.link = S_ISLNK(own.st_mode);
  if (found.link) {
    found.kind = Kind::link;  // unlink() removes the link itself
  } else if (!S_ISREG(own.st_mode)) {
    found.kind = other_kind(own);
  } else {
    found.kind = Kind::regular;
    found.pin = pin_of_name(name);
  }
  return found;
}

PathLook look_along(std::string_view path) {
  PathLook look;
  Bytes name;
  if (!name.append(path) || name.c_str() == nullptr) return look;
  // Anyone but root follows links as the system does.
  if (geteuid() != 0) {
    struct stat about;
    if (stat(name.c_str(), &about) == 0 && S_ISREG(about.st_mode)) look.kind = Kind::regular;
    return look;
  }
  Walk::Named named = Walk(name.view()).to_name();
  if (!named.refused.view().empty()) {
    look.kind = Kind::guarded_link;
    look.at = std::move(named.refused);
  } else if (!named.error && S_ISREG(named.about.st_mode)) {
    look.kind = Kind::regular;
  }
  return look;
}

bool name_taken(const char* name) {
  struct stat about;
  return lstat(name, &about) == 0 || errno != ENOENT;
}

// --- Reading and writing -----------------------------------------------------------

Result<size_t> read_text(int fd, std::span<char> buffer) {
  for (;;) {
    ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got >= 0) return {static_cast<size_t>(got), SystemError()};
    if (errno != EINTR) return {0, last_error()};
  }
}

Result<size_t> read_at(int fd, std::span<char> buffer, std::uint64_t offset) {
  size_t got = 0;
  while (got < buffer.size()) {
    ssize_t part = pread(fd, buffer.data() + got, buffer.size() - got, static_cast<off_t>(offset + got));
    if (part < 0 && errno == EINTR) continue;
    if (part < 0) return {got, last_error()};
    if (part == 0) break;
    got += static_cast<size_t>(part);
  }
  return {got, SystemError()};
}

Result<Descriptor> create_file(const char* name) {
  // O_EXCL fails on any existing name, a link included, and follows none.
  Descriptor file(open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       S_IRUSR | S_IWUSR));
  if (!file) return {Descriptor(), last_error()};
  return {std::move(file), SystemError()};
}

SystemError write_text(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t put = write(fd, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return last_error();
    if (put == 0) return SystemError(EIO);  // never for a regular file
    text.remove_prefix(static_cast<size_t>(put));
  }
  return SystemError();
}

void release_before_rename(Descriptor&) {}

// The bits that the finished file takes from the original: read, write and
// execute for owner, group and others.
static constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

// Gives the open file |fd| the owner and group of |from| where the process
// may: the original's owner as root; otherwise at least its group when the
// runner belongs to it; otherwise the runner's stay, which is no error.
static void give_owner(int fd, const struct stat& from) {
  if (fchown(fd, from.st_uid, from.st_gid) == 0) return;
  (void)fchown(fd, static_cast<uid_t>(-1), from.st_gid);
}

// Gives the open file |fd| the permission bits of |from|: fails unless it
// has them afterwards.  Some file systems (FAT, some network shares) refuse
// any change but give every file the same bits: what counts is the bits
// the file ends up with.
static SystemError give_bits(int fd, const struct stat& from) {
  SystemError refused = checked(fchmod(fd, from.st_mode & kPermissionBits));
  struct stat now;
  if (fstat(fd, &now) != 0) return last_error();
  if ((now.st_mode & kPermissionBits) == (from.st_mode & kPermissionBits)) return SystemError();
  return refused ? refused : SystemError(EPERM);
}

// Where the access ACL of a file is kept.
static constexpr char kAclAttribute[] = "system.posix_acl_access";

// Whether |error| says that a file has no ACL, or its file system none.
static bool no_acl(SystemError error) {
  return error.code() == ENODATA || error.code() == ENOTSUP;
}

// Gives the open file |to| the access ACL of the open file |from|, or none
// where |from| has none (a folder's default ACL would otherwise give the
// new file rights that the original did not grant).
static SystemError give_acl(int to, int from) {
  Bytes acl;
  for (;;) {
    // The size first; it may grow before the second call, then again.
    ssize_t size = fgetxattr(from, kAclAttribute, nullptr, 0);
    if (size < 0) break;
    std::span<char> room = acl.room(static_cast<size_t>(size));
    if (room.size() < static_cast<size_t>(size)) return out_of_memory();
    size = fgetxattr(from, kAclAttribute, room.data(), room.size());
    if (size >= 0) return checked(fsetxattr(to, kAclAttribute, room.data(), static_cast<size_t>(size), 0));
    if (errno != ERANGE) return last_error();
  }
  if (SystemError error = last_error(); !no_acl(error)) return error;
  SystemError removed = checked(fremovexattr(to, kAclAttribute));
  return removed && !no_acl(removed) ? removed : SystemError();
}

SystemError copy_permissions(int to, int from) {
  struct stat original;
  if (fstat(from, &original) != 0) return last_error();
  // The owner first: fchown() clears the set-user-ID and set-group-ID bits,
  // and the bits are checked last.  The ACL before the bits, since setting
  // it sets the group bits from its mask.
  give_owner(to, original);
  if (SystemError error = give_acl(to, from)) return error;
  return give_bits(to, original);
}

SystemError flush_file(int fd) {
  return checked(fsync(fd));
}

// Forces the current folder's entries onto the disk.  A folder that cannot
// be flushed (some file systems refuse it) leaves the link or rename done,
// only less sure to outlive a power cut: its callers ignore the result.
static SystemError sync_folder() {
  Descriptor self(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!self) return last_error();
  if (SystemError error = checked(fsync(self.get()))) return error;
  return close_descriptor(self.release());
}

SystemError remove_name(const char* name) {
  // unlink() takes a link away, never its target, and never a folder.
  return checked(unlink(name));
}

SystemError link_name(const char* from, const char* to) {
  // link() never replaces |to|; a symbolic link at |from| is linked itself.
  if (link(from, to) != 0) return last_error();
  (void)sync_folder();
  return SystemError();
}

// Renames |from| to |to| unless something stands at |to|.
static SystemError rename_no_replace(const char* from, const char* to) {
  // rename() would silently replace an existing |to|, and with it the file
  // that it may hold.
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return SystemError();
  // Only a file system or kernel that does not know the flag (exFAT, FUSE,
  // Linux before 3.15) gets the fallback; every other error is a failure.
  if (errno != EINVAL && errno != ENOSYS) return last_error();
#endif
  // The folder lock, where the file system offers one, keeps every other
  // run of ours from taking |to| between this check and the rename.
  if (name_taken(to)) return SystemError(EEXIST);
  return checked(rename(from, to));
}

SystemError rename_name(const char* from, const char* to) {
  if (SystemError error = rename_no_replace(from, to)) return error;
  (void)sync_folder();
  return SystemError();
}

SystemError replace_name(const char* from, const char* to) {
  if (rename(from, to) != 0) return last_error();
  (void)sync_folder();
  return SystemError();
}

SystemError touch_name(const char* name) {
  return checked(utimensat(AT_FDCWD, name, nullptr, AT_SYMLINK_NOFOLLOW));
}
