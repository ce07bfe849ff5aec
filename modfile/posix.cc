// The file layer on POSIX systems.
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

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bytes.h"
#include "disk.h"

const char kSystemName[] = "Linux";

const char* bot_library(bool dod) {
  // The bot has a Linux library only for Day of Defeat; every other game's
  // Linux server keeps loading the game's own.
  return dod ? "tavrel/tavrel.so" : nullptr;
}

// How long a run waits for another run in the same folder to finish.
static constexpr long long kLockWaitMs = 5000;

Reason last_reason() {
  Reason reason;
  append_to(reason.text, std::strerror(errno));
  return reason;
}

bool last_call_not_permitted() {
  return errno == EPERM;
}

bool close_descriptor(int fd) {
  return close(fd) == 0;
}

// --- The process -------------------------------------------------------------

void settle_process() {
  // A file-size limit then fails the write with EFBIG, and a closed pipe
  // only loses a message: neither kills the run midway.
  (void)signal(SIGXFSZ, SIG_IGN);
  (void)signal(SIGPIPE, SIG_IGN);
}

std::span<const char* const> command_words(int argc, char** argv,
                                           CommandLine&) {
  if (argc < 1) return {};
  return {argv + 1, static_cast<size_t>(argc - 1)};
}

bool enter_folder(const char* folder) {
  return chdir(folder) == 0;
}

bool own_console() {
  // A terminal window stays open after the program.
  return false;
}

void hold_window(bool) {}

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
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    reason_ = last_reason();
    return;
  }
  // Non-blocking attempts over the wait, so that no signal is needed to
  // end it and no inherited signal mask or handler can make it hang.
  long long deadline = now_ms() + kLockWaitMs;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      result_ = LockResult::locked;
      held_ = fd;
      return;
    }
    int error = errno;
    if (error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP) {
      result_ = LockResult::no_locks;  // some network file systems
      break;
    }
    if (error != EWOULDBLOCK && error != EINTR) {
      reason_ = last_reason();
      break;
    }
    if (now_ms() >= deadline) {
      result_ = LockResult::busy;
      break;
    }
    pause_ms(10);
  }
  (void)close(fd);
}

FolderLock::~FolderLock() {
  if (held_ >= 0) (void)close(static_cast<int>(held_));
}

Folder look_at_folder() {
  Folder folder;
  folder.runner = geteuid();
  // Root follows no link where the folder cannot be looked at.
  folder.guarded = folder.runner == 0;
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat about;
  if (fd < 0 || fstat(fd, &about) != 0) {
    if (fd >= 0) (void)close(fd);
    return folder;
  }
  folder.owner = about.st_uid;
  folder.sticky = (about.st_mode & S_ISVTX) != 0;
  // Root in a folder that another account owns or may write: that account
  // can change where any link there leads.
  folder.guarded = folder.runner == 0 &&
                   (about.st_uid != 0 || (about.st_mode & (S_IWGRP | S_IWOTH)) != 0);
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
  // Where the flags cannot be read, a rename that fails says so later.
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) folder.append_only = (flags & FS_APPEND_FL) != 0;
#endif
  (void)close(fd);
  return folder;
}

bool folder_writable(Reason* reason) {
  if (faccessat(AT_FDCWD, ".", W_OK | X_OK, AT_EACCESS) == 0) return true;
  if (errno != EACCES && errno != EPERM && errno != EROFS) return true;
  *reason = last_reason();
  return false;
}

// --- Names -----------------------------------------------------------------------

// Marks |found| unreadable, for the reason of the call that just failed.
static void mark_unreadable(Found& found) {
  found.kind = Kind::unreadable;
  found.reason = last_reason();
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
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (!found.link) {
    // Opened as what it is: a link put there since the look is refused.
    flags |= O_NOFOLLOW;
  } else if (own.st_uid != geteuid() && own.st_uid != 0) {
    // Another account's link may point anywhere that account cannot read.
    found.kind = Kind::foreign_link;
    return found;
  } else if (folder.guarded) {
    // Root's own link may lead on through the other account's folders.
    found.kind = Kind::guarded_link;
    return found;
  } else if (stat(name, &target) != 0) {
    found.dangling = errno == ENOENT;
    mark_unreadable(found);
    return found;
  }
  if (!S_ISREG(target.st_mode)) {
    found.kind = Kind::special;  // never opened
    return found;
  }
  Descriptor file(open(name, flags));
  struct stat opened;
  if (!file || fstat(file.get(), &opened) != 0) {
    mark_unreadable(found);
    return found;
  }
  if (!S_ISREG(opened.st_mode)) {
    found.kind = Kind::special;  // put there since the look: never read
    return found;
  }
  if (found.link && (opened.st_dev != target.st_dev || opened.st_ino != target.st_ino)) {
    errno = EAGAIN;  // the link changed between the look and the open
    mark_unreadable(found);
    return found;
  }
  found.kind = Kind::regular;
  found.id = {static_cast<std::uint64_t>(opened.st_dev),
              static_cast<std::uint64_t>(opened.st_ino)};
  found.links = opened.st_nlink;
  found.size = static_cast<std::uint64_t>(opened.st_size);
  found.file = std::move(file);
  return found;
}

bool file_exists(const char* path) {
  struct stat about;
  return stat(path, &about) == 0 && !S_ISDIR(about.st_mode);
}

bool name_taken(const char* name) {
  struct stat about;
  return lstat(name, &about) == 0 || errno != ENOENT;
}

bool removes_here(const char*, const Folder&) {
  // unlink() and rename() act on a link itself, never on its target.
  return true;
}

// --- Reading and writing -----------------------------------------------------------

long read_text(int fd, std::span<char> buffer) {
  for (;;) {
    ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got >= 0 || errno != EINTR) return got;
  }
}

Descriptor create_file(const char* name) {
  // O_EXCL fails on any existing name, a link included, and follows none.
  return Descriptor(open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         S_IRUSR | S_IWUSR));
}

bool write_text(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t put = write(fd, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    text.remove_prefix(static_cast<size_t>(put));
  }
  return true;
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

// Gives the open file |fd| the permission bits of |from|: true when it has
// them afterwards.  Some file systems (FAT, some network shares) refuse any
// change but give every file the same bits: what counts is the bits the
// file ends up with.
static bool give_bits(int fd, const struct stat& from) {
  int refused = fchmod(fd, from.st_mode & kPermissionBits) == 0 ? 0 : errno;
  struct stat now;
  if (fstat(fd, &now) != 0) return false;
  if ((now.st_mode & kPermissionBits) == (from.st_mode & kPermissionBits))
    return true;
  errno = refused != 0 ? refused : EPERM;
  return false;
}

// Where the access ACL of a file is kept.
static constexpr char kAclAttribute[] = "system.posix_acl_access";

// Gives the open file |to| the access ACL of the open file |from|, or none
// where |from| has none (a folder's default ACL would otherwise give the
// new file rights that the original did not grant): true when |to| ends up
// so; false on failure.
static bool give_acl(int to, int from) {
  Bytes acl;
  for (;;) {
    // The size first; it may grow before the second call, then again.
    ssize_t size = fgetxattr(from, kAclAttribute, nullptr, 0);
    if (size < 0) break;
    std::span<char> room = acl.room(static_cast<size_t>(size));
    if (room.size() < static_cast<size_t>(size)) {
      errno = ENOMEM;
      return false;
    }
    size = fgetxattr(from, kAclAttribute, room.data(), room.size());
    if (size >= 0)
      return fsetxattr(to, kAclAttribute, room.data(), static_cast<size_t>(size), 0) == 0;
    if (errno != ERANGE) return false;
  }
  // No ACL (ENODATA), or a file system without them: nothing to copy.
  if (errno != ENODATA && errno != ENOTSUP) return false;
  return fremovexattr(to, kAclAttribute) == 0 || errno == ENODATA ||
         errno == ENOTSUP;
}

bool copy_permissions(int to, int from) {
  struct stat original;
  if (fstat(from, &original) != 0) return false;
  // The owner first: fchown() clears the set-user-ID and set-group-ID bits,
  // and the bits are checked last.  The ACL before the bits, since setting
  // it sets the group bits from its mask.
  give_owner(to, original);
  return give_acl(to, from) && give_bits(to, original);
}

bool flush_file(int fd) {
  return fsync(fd) == 0;
}

bool sync_folder() {
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  bool closed = close(fd) == 0;
  return synced && closed;
}

bool remove_name(const char* name) {
  // unlink() takes a link away, never its target, and never a folder.
  return unlink(name) == 0;
}

// A folder that cannot be flushed (some file systems refuse it) leaves the
// link or rename done, only less sure to outlive a power cut: the result is
// ignored.
bool link_name(const char* from, const char* to) {
  // link() never replaces |to|; a symbolic link at |from| is linked itself.
  if (link(from, to) != 0) return false;
  (void)sync_folder();
  return true;
}

// Renames |from| to |to| unless something stands at |to|: true on success.
static bool rename_no_replace(const char* from, const char* to) {
  // rename() would silently replace an existing |to|, and with it the file
  // that it may hold.
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
    return true;
  // Only a file system or kernel that does not know the flag (exFAT, FUSE,
  // Linux before 3.15) gets the fallback; every other error is a failure.
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // The folder lock keeps every other run of ours from taking |to| between
  // this check and the rename.
  if (name_taken(to)) {
    errno = EEXIST;
    return false;
  }
  return rename(from, to) == 0;
}

bool rename_name(const char* from, const char* to) {
  if (!rename_no_replace(from, to)) return false;
  (void)sync_folder();
  return true;
}

bool replace_name(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  (void)sync_folder();
  return true;
}

bool touch_name(const char* name) {
  return utimensat(AT_FDCWD, name, nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}
