// The file layer on POSIX systems: the folder lock, looking at names,
// opening, creating, finishing, linking, renaming, deleting and touching
// files.
#include <fcntl.h>
#include <signal.h>
#include <sys/xattr.h>
#include <time.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "modfile.h"

// How long a run waits for another run in the same folder to finish.
static constexpr int kLockWaitMs = 5000;

void system_reason(char* reason, size_t size) {
  const char* text = strerror(errno);
  size_t at = 0;
  for (; text[at] != '\0' && at + 1 < size; ++at) reason[at] = text[at];
  reason[at] = '\0';
}

int end_run(Status status, const char*) {
  // A terminal window stays open after the program: nothing to wait for.
  return status;
}

void settle_process() {
  // A file-size limit then fails the write with EFBIG, and a closed
  // standard error only loses the message: neither kills the run midway.
  (void)signal(SIGXFSZ, SIG_IGN);
  (void)signal(SIGPIPE, SIG_IGN);
}

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

LockResult lock_folder() {
  // flock() on the folder itself: no file is made, and the lock goes with
  // the descriptor, which stays open until the process ends.
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return kLockFailed;
  // Non-blocking attempts over the wait, so that no signal is needed to
  // end it and no inherited signal mask or handler can make it hang.
  long long deadline = now_ms() + kLockWaitMs;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return kLocked;
    int error = errno;
    if (error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP) {
      // A file system that offers no lock at all (some network ones).
      (void)close(fd);
      return kNoLocks;
    }
    if (error != EWOULDBLOCK && error != EINTR) {
      (void)close(fd);
      errno = error;
      return kLockFailed;
    }
    if (now_ms() >= deadline) break;
    pause_ms(10);
  }
  (void)close(fd);
  return kBusy;
}

// Looks at |name| the way the programs may use it: fills |target| with
// what it leads to.  A symbolic link is followed only when it belongs to
// the account the program runs as, or to root: one of another account may
// point anywhere that account cannot read itself.  kRegular when |name|
// leads to a regular file; kForeignLink for another account's link;
// kNotRegular for a folder, FIFO, device or socket; kUnreadable when the
// target cannot be looked at (a dangling link, say: errno tells);
// kMissing when nothing stands at |name|.  Nothing is opened.
static Presence look_up(const char* name, struct stat* target) {
  struct stat own;
  if (lstat(name, &own) != 0) return errno == ENOENT ? kMissing : kUnreadable;
  if (S_ISLNK(own.st_mode)) {
    if (own.st_uid != geteuid() && own.st_uid != 0) return kForeignLink;
    if (stat(name, target) != 0) return kUnreadable;
  } else {
    *target = own;
  }
  return S_ISREG(target->st_mode) ? kRegular : kNotRegular;
}

// Opens the regular file |name|, as look_up() found it, for reading without
// blocking and without making a terminal the controlling one: the
// descriptor; -1 when it cannot be opened, or is no longer the file that
// was looked at (EAGAIN).
static int open_regular(const char* name, Presence* presence) {
  struct stat looked, opened;
  *presence = look_up(name, &looked);
  if (*presence != kRegular) {
    if (*presence != kUnreadable) errno = EINVAL;
    return -1;
  }
  int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *presence = kUnreadable;
    return -1;
  }
  if (fstat(fd, &opened) != 0 || opened.st_dev != looked.st_dev ||
      opened.st_ino != looked.st_ino || !S_ISREG(opened.st_mode)) {
    (void)close(fd);
    *presence = kUnreadable;
    errno = EAGAIN;  // changed between the look and the open
    return -1;
  }
  return fd;
}

FILE* open_input(const char* name) {
  Presence presence;
  int fd = open_regular(name, &presence);
  if (fd < 0) return nullptr;
  // Back to blocking reads: a regular file never blocks anyway.
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* input = fdopen(fd, "r");
  if (input == nullptr) (void)close(fd);
  return input;
}

int read_byte(FILE* input) {
  return getc(input);
}

Presence look_at(const char* name) {
  Presence presence;
  int fd = open_regular(name, &presence);
  if (fd >= 0) (void)close(fd);  // nothing was read: only the open matters
  return presence;
}

bool name_taken(const char* name) {
  struct stat about;
  return lstat(name, &about) == 0 || errno != ENOENT;
}

bool same_file(const char* a, const char* b) {
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool is_link(const char* name) {
  struct stat about;
  return lstat(name, &about) == 0 && S_ISLNK(about.st_mode);
}

bool removable_second_name(const char* alias, const char* of) {
  struct stat name, other;
  if (!same_file(alias, of) || lstat(alias, &name) != 0 || lstat(of, &other) != 0)
    return false;
  // unlink() takes a symbolic link away, never its target.
  if (S_ISLNK(name.st_mode)) return true;
  return !S_ISLNK(other.st_mode) && name.st_nlink >= 2;
}

bool is_dangling_link(const char* name) {
  struct stat about;
  return is_link(name) && stat(name, &about) != 0 && errno == ENOENT;
}

bool may_replace(const char* name) {
  struct stat folder, file;
  uid_t runner = geteuid();
  if (runner == 0 || stat(".", &folder) != 0 || !(folder.st_mode & S_ISVTX))
    return true;
  // In a sticky folder only the owner of a name, of the folder, or root
  // may rename over it or remove it.
  return folder.st_uid == runner || lstat(name, &file) != 0 ||
         file.st_uid == runner;
}

FILE* create_output(const char* name) {
  // O_EXCL fails on any existing name, a link included, and follows none.
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                S_IRUSR | S_IWUSR);
  if (fd < 0) return nullptr;
  FILE* output = fdopen(fd, "w");
  if (output == nullptr) {
    int error = errno;
    (void)close(fd);
    (void)unlink(name);  // this run's own, empty
    errno = error;
  }
  return output;
}

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
  char acl[4096];  // about 500 entries, far beyond any real file's
  ssize_t size = fgetxattr(from, kAclAttribute, acl, sizeof acl);
  if (size >= 0)
    return fsetxattr(to, kAclAttribute, acl, static_cast<size_t>(size), 0) == 0;
  // No ACL (ENODATA), or a file system without them: nothing to copy.
  if (errno != ENODATA && errno != ENOTSUP) return false;
  return fremovexattr(to, kAclAttribute) == 0 || errno == ENODATA ||
         errno == ENOTSUP;
}

bool copy_permissions(FILE* output, FILE* original) {
  struct stat from;
  if (fstat(fileno(original), &from) != 0) return false;
  // The owner first: fchown() clears the set-user-ID and set-group-ID bits,
  // and the bits are checked last.  The ACL before the bits, since setting
  // it sets the group bits from its mask.
  give_owner(fileno(output), from);
  return give_acl(fileno(output), fileno(original)) &&
         give_bits(fileno(output), from);
}

bool flush_to_disk(FILE* output) {
  return fsync(fileno(output)) == 0;
}

bool sync_folder() {
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  bool closed = close(fd) == 0;
  return synced && closed;
}

bool delete_file(const char* name) {
  // unlink() takes a link away, never its target, and never a folder.
  return unlink(name) == 0;
}

// A folder that cannot be flushed (some file systems refuse it) leaves the
// link or rename done, only less sure to outlive a power cut: the result is
// ignored.
bool link_file(const char* from, const char* to) {
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

bool rename_file(const char* from, const char* to) {
  if (!rename_no_replace(from, to)) return false;
  (void)sync_folder();
  return true;
}

bool replace_file(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  (void)sync_folder();
  return true;
}

bool touch_file(const char* name) {
  return utimensat(AT_FDCWD, name, nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}
