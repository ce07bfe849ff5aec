// The file layer and the process on Windows, kept to Windows XP's API:
// what came later is looked up at run time and done without where it is
// missing.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "disk.h"
#include "process.h"

const char kSystemName[] = "Windows";
const char kPathSeparator = '\\';

const char* bot_library(bool dod) {
  return dod ? "tavrel\\tav_rel.dll" : "tav_rel\\tav_rel.dll";
}

const char* rename_back_by_hand(RenameBack how) {
  // A file cannot be renamed over another here, and Explorer hides the
  // .gam ending: typed with it, the name becomes liblist.gam.gam.
  switch (how) {
    case RenameBack::it:
      return "delete liblist.gam, then rename the backup to liblist (Windows hides the .gam ending)";
    case RenameBack::backup:
      return "delete liblist.gam, then rename liblist_tv_backup.gam to liblist (Windows hides "
             "the .gam ending)";
    case RenameBack::backup_alone:
      break;
  }
  return "rename liblist_tv_backup.gam to liblist (Windows hides the .gam ending)";
}

const char* engine_entry_replaced(bool) {
  return "gamedll";
}

// How long a run waits for another run in the same folder to finish.
static constexpr DWORD kLockWaitMs = 5000;

// The error of the call that has just failed; one that failed without
// setting it counts as a failed device rather than as no failure.
static SystemError last_error() {
  DWORD error = GetLastError();
  return SystemError(error != 0 ? error : ERROR_GEN_FAILURE);
}

// A name widened for the wide-character file functions.
struct Wide {
  wchar_t text[MAX_PATH];
  SystemError error;  // it does not fit (as Windows says of a name past
                      // its length limit), or cannot be converted
};

// Widens |name|, in the code page |code_page|.
static Wide widen(const char* name, UINT code_page = CP_ACP) {
  Wide wide;
  if (MultiByteToWideChar(code_page, code_page == CP_ACP ? MB_ERR_INVALID_CHARS : 0, name, -1,
                          wide.text, MAX_PATH) > 0)
    return wide;
  DWORD error = GetLastError();
  wide.error = SystemError(error == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE
                           : error != 0                       ? error
                                                              : ERROR_GEN_FAILURE);
  return wide;
}

SystemError out_of_memory() {
  return SystemError(ERROR_NOT_ENOUGH_MEMORY);
}

void describe(SystemError error, Bytes& line) {
  auto code = static_cast<DWORD>(error.code());
  size_t before = line.view().size();
  // The system's text, in room that grows until it fits.
  for (DWORD room = 256; room <= 65536; room *= 4) {
    std::span<char> space = line.room(room);
    if (space.size() < room) break;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, space.data(), room, nullptr);
    if (length == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) continue;
    // The text ends in a full stop and a line end, which the line it goes
    // into does not want.
    while (length > 0 && std::strchr("\r\n .", space[length - 1]) != nullptr) --length;
    line.keep(length);
    break;
  }
  // Without a text, the number, as Windows' own tools show it.
  if (line.view().size() == before) {
    (void)line.append("Windows error ");
    (void)line.append_number(code);
  }
  // Mostly a game under Program Files, which only administrators may
  // change, or a read-only file.
  if (code == ERROR_ACCESS_DENIED)
    (void)line.append(" (under Program Files, run the program as administrator or move the "
                      "game out of it; a read-only liblist.gam, clear that in its properties)");
  // A file dropped onto the program instead of its folder.
  if (code == ERROR_DIRECTORY)
    (void)line.append(" (name the mod folder itself, or drop the folder onto the program, not a file in it)");
}

bool not_permitted(SystemError) {
  // Windows says "access denied" for every refusal; its advice is in the
  // reason already.
  return false;
}

SystemError close_descriptor(int fd) {
  return _close(fd) == 0 ? SystemError() : last_error();
}

// A virus scanner, the search indexer or a sync client often holds a file
// that was just written open for a moment; opening, moving or deleting it
// then fails with one of these errors, as does a file that is being
// deleted.  Such a call is tried again after a growing pause, about one
// second in all, before it counts as failed: |call| returns whether it
// worked, and the result is its last error, or none.
template <class Call>
static SystemError retried(Call call) {
  for (int attempt = 0;;) {
    if (call()) return SystemError();
    SystemError error = last_error();
    DWORD code = static_cast<DWORD>(error.code());
    bool brief = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
                 code == ERROR_ACCESS_DENIED;
    if (!brief || attempt >= 8) return error;  // 25 + 50 + ... + 200 ms = 0.9 s
    Sleep(25 * ++attempt);
  }
}

// Opens |name| with CreateFileW(), waiting out a brief lock: the handle,
// or INVALID_HANDLE_VALUE and why.
static Result<HANDLE> open_handle(const char* name, DWORD access, DWORD share,
                                  DWORD disposition, DWORD flags) {
  Wide wide = widen(name);
  if (wide.error) return {INVALID_HANDLE_VALUE, wide.error};
  HANDLE file = INVALID_HANDLE_VALUE;
  SystemError error = retried([&] {
    file = CreateFileW(wide.text, access, share, nullptr, disposition, flags, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return {file, error};
}

static constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Wraps |file| in a C runtime descriptor with |flags|: the descriptor, or
// none with the handle closed.
static Descriptor descriptor_of(HANDLE file, int flags) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags);
  if (fd < 0) (void)CloseHandle(file);
  return Descriptor(fd);
}

// --- The process -------------------------------------------------------------

void settle_process() {
  // No signal ends a Windows program on a full disk or a closed pipe.
}

// The words |argv| after the program's name, in UTF-8, kept in |text| and
// |list|; none where memory runs out.
static std::span<const char* const> utf8_words(int argc, wchar_t** argv, Bytes& text, Bytes& list) {
  size_t size = 0, count = argc > 1 ? static_cast<size_t>(argc - 1) : 0;
  for (size_t i = 1; i <= count; ++i)
    size += static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr));
  // Room for all of them at once, so that no word moves once placed.
  std::span<char> room = text.room(size), slots = list.room(count * sizeof(const char*));
  if (room.size() < size || slots.size() < count * sizeof(const char*)) return {};
  auto** words = reinterpret_cast<const char**>(slots.data());
  char* at = room.data();
  for (size_t i = 1; i <= count; ++i) {
    words[i - 1] = at;
    at += WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, at, static_cast<int>(room.data() + size - at),
                              nullptr, nullptr);
  }
  return {words, count};
}

// The C runtime splits the wide command line by its rules for quotes and
// backslashes (linked with -municode; XP's runtime has __wgetmainargs).
// A file name holds no quote, so the runtimes' ways with two quotes in a
// row do not matter here.
int wmain(int argc, wchar_t** argv) {
  Bytes text, list;
  return program_main(utf8_words(argc, argv, text, list));
}

Entered enter_folder(const char* path) {
  // Windows keeps its own rule for links on the way: the system follows
  // them.
  Wide wide = widen(path, CP_UTF8);
  if (wide.error) return {wide.error, Bytes()};
  if (SetCurrentDirectoryW(wide.text) == 0) return {last_error(), Bytes()};
  return {};
}

// Whether the process has a console window of its own (started from
// Explorer) and standard error is that console: a command prompt or a
// script shares the console, and a tool that captures the output makes
// standard error a file or a pipe.  (Wine's consoles refuse
// GetConsoleMode() but are character devices, as consoles are.)
bool own_console() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return false;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode;
  return GetConsoleMode(error, &mode) != 0 || GetFileType(error) == FILE_TYPE_CHAR;
}

void hold_window(bool failed) {
  // The window closes with the process: the outcome is shown for a few
  // seconds, without asking for a key.
  (void)std::fputs(failed ? "(This window closes by itself in 10 seconds.)\n"
                          : "(This window closes by itself in 3 seconds.)\n",
                   stderr);
  (void)std::fflush(stderr);
  Sleep(failed ? 10000 : 3000);
}

// --- The folder ------------------------------------------------------------------

// Reads the volume and file index of what |name| leads to: true on success.
static bool identify(const char* name, BY_HANDLE_FILE_INFORMATION* info) {
  Result<HANDLE> file = open_handle(name, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file.error) return false;
  bool known = GetFileInformationByHandle(file.value, info) != 0;
  (void)CloseHandle(file.value);
  return known;
}

// Writes |value| as eight hexadecimal digits at |out|.
static void put_hex(wchar_t* out, DWORD value) {
  for (int i = 7; i >= 0; --i, value >>= 4) out[i] = L"0123456789abcdef"[value & 15];
}

// Creates the named mutex |name|, or opens it where it exists: the handle,
// or nullptr.  The mutex has no access list, so that every account may
// open and wait on it: runs of two sessions, or an elevated and a plain
// one, then meet the same lock.  (The descriptor is built by hand, which
// needs nothing from advapi32.dll.)  A mutex made with a stricter list is
// opened for waiting only.
static HANDLE open_mutex(const wchar_t* name) {
  SECURITY_DESCRIPTOR descriptor = {};
  descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
  descriptor.Control = SE_DACL_PRESENT;  // and no DACL: everyone
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  HANDLE mutex = CreateMutexW(&attributes, FALSE, name);
  if (mutex != nullptr || GetLastError() != ERROR_ACCESS_DENIED) return mutex;
  mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
  if (mutex != nullptr) return mutex;
  return OpenMutexW(SYNCHRONIZE, FALSE, name);
}

FolderLock::FolderLock() : result_(LockResult::no_locks) {
  // A named mutex that identifies the folder by its volume and file index,
  // so that every name of the folder (a mapped drive, a short name) meets
  // the same lock.  Where the folder cannot be identified, there is no lock.
  BY_HANDLE_FILE_INFORMATION folder;
  if (!identify(".", &folder)) return;
  wchar_t name[] = L"Global\\tavrel-switch-vvvvvvvv-hhhhhhhhllllllll";
  wchar_t* digits = name + 21;
  put_hex(digits, folder.dwVolumeSerialNumber);
  put_hex(digits + 9, folder.nFileIndexHigh);
  put_hex(digits + 17, folder.nFileIndexLow);
  DWORD start = GetTickCount();
  for (;;) {
    DWORD waited = GetTickCount() - start;
    DWORD left = waited < kLockWaitMs ? kLockWaitMs - waited : 0;
    HANDLE mutex = open_mutex(name);
    if (mutex != nullptr) {
      // A run that ends without releasing the mutex leaves it abandoned,
      // which the next run takes over.
      DWORD result = WaitForSingleObject(mutex, left);
      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        result_ = LockResult::locked;
        held_ = reinterpret_cast<std::intptr_t>(mutex);
        return;
      }
      if (result != WAIT_TIMEOUT) error_ = last_error();
      (void)CloseHandle(mutex);
      result_ = result == WAIT_TIMEOUT ? LockResult::busy : LockResult::failed;
      return;
    }
    // A mutex that cannot be opened is tried again within the wait, and
    // then counts as held by another run.
    if (left == 0) {
      result_ = LockResult::busy;
      return;
    }
    Sleep(left < 50 ? left : 50);
  }
}

FolderLock::~FolderLock() {
  if (held_ == -1) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(held_);
  (void)ReleaseMutex(mutex);
  (void)CloseHandle(mutex);
}

// GetFinalPathNameByHandleW() came with Vista: looked up, so that the
// programs still start on XP, which has no file symbolic links anyway.
using FinalPathCall = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
static FinalPathCall final_path_call() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<FinalPathCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetFinalPathNameByHandleW")));
}

// Writes the full path that the open |file| resolves to into |out|, in
// UTF-8: false where the system cannot tell.
static bool final_path(HANDLE file, Bytes& out) {
  FinalPathCall call = final_path_call();
  if (call == nullptr) return false;
  DWORD length = call(file, nullptr, 0, 0);  // with its NUL
  if (length == 0) return false;
  Bytes wide;
  std::span<char> room = wide.room(length * sizeof(wchar_t));
  if (room.size() < length * sizeof(wchar_t)) return false;
  auto* text = reinterpret_cast<wchar_t*>(room.data());
  DWORD got = call(file, text, length, 0);
  if (got == 0 || got >= length) return false;
  int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(got), nullptr, 0, nullptr, nullptr);
  std::span<char> space = out.room(static_cast<size_t>(size));
  if (size <= 0 || space.size() < static_cast<size_t>(size)) return false;
  (void)WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(got), space.data(), size, nullptr, nullptr);
  out.keep(static_cast<size_t>(size));
  return true;
}

// Whether this run may add files to the current folder, without making
// one: opening the folder for adding a file checks that right (a folder
// under Program Files refuses it to all but administrators).
static SystemError check_writable() {
  HANDLE self = CreateFileW(L".", FILE_ADD_FILE, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (self != INVALID_HANDLE_VALUE) {
    (void)CloseHandle(self);
    return SystemError();
  }
  SystemError error = last_error();
  return error.code() == ERROR_ACCESS_DENIED ? error : SystemError();
}

Folder look_at_folder() {
  Folder folder;
  folder.write_error = check_writable();
  folder.writable = !folder.write_error;
  Result<HANDLE> self = open_handle(".", 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (self.error) return folder;
  if (!final_path(self.value, folder.final_path)) folder.final_path.clear();
  (void)CloseHandle(self.value);
  return folder;
}

// --- Names -----------------------------------------------------------------------

// Whether the open |file|, opened by |name|, lies at |name| in |folder|
// itself: Wine shows a Unix symbolic link as the file it leads to, and
// deleting or moving the link there deletes or moves that file.  True
// where the system cannot tell (XP, which has no file links).
static bool lies_here(HANDLE file, const char* name, const Folder& folder) {
  Bytes path, expected;
  std::string_view folder_path = folder.final_path.view();
  if (folder_path.empty() || !final_path(file, path)) return true;
  (void)expected.append(folder_path);
  if (!folder_path.ends_with('\\')) (void)expected.append("\\");
  (void)expected.append(name);
  return same_but_ascii_case(path.view(), expected.view());
}

// The attributes of |name|, or why they could not be had.
static Result<DWORD> attributes_of(const char* name) {
  Wide wide = widen(name);
  if (wide.error) return {INVALID_FILE_ATTRIBUTES, wide.error};
  DWORD attributes = GetFileAttributesW(wide.text);
  if (attributes == INVALID_FILE_ATTRIBUTES) return {attributes, last_error()};
  return {attributes, SystemError()};
}

// Whether |error| says that nothing stands at a name.
static bool nothing_there(SystemError error) {
  return error.code() == ERROR_FILE_NOT_FOUND || error.code() == ERROR_PATH_NOT_FOUND;
}

// The pin of a name that is no link, from its |attributes|.
static Pin pin_of(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? Pin::read_only : Pin::none;
}

// Takes the open |file|, opened by |name|, into |found| where it is what
// the look found (|target|, for a link): otherwise it is never read.
static void take_open(Found& found, HANDLE file, const char* name, const Folder& folder,
                      const BY_HANDLE_FILE_INFORMATION& target) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || GetFileInformationByHandle(file, &info) == 0) {
    (void)CloseHandle(file);  // never read
    found.kind = Kind::special;
    return;
  }
  bool changed = found.link ? info.dwVolumeSerialNumber != target.dwVolumeSerialNumber ||
                                  info.nFileIndexHigh != target.nFileIndexHigh ||
                                  info.nFileIndexLow != target.nFileIndexLow
                            : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (changed) {
    (void)CloseHandle(file);  // never read
    found.kind = Kind::unreadable;
    found.changed = true;
    return;
  }
  found.here = found.link || lies_here(file, name, folder);
  found.id = {info.dwVolumeSerialNumber,
              (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  found.links = info.nNumberOfLinks;
  found.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  // Read as bytes: the C runtime's text mode takes a Ctrl-Z byte for the
  // end of the file; read_text() turns CR LF into a line feed.
  found.file = descriptor_of(file, _O_RDONLY | _O_BINARY);
  found.kind = found.file ? Kind::regular : Kind::unreadable;
  if (!found.file) found.error = last_error();
}

Found look_at(const char* name, const Folder& folder) {
  Found found;
  Result<DWORD> look = attributes_of(name);
  if (look.error) {
    if (nothing_there(look.error)) return found;
    found.kind = Kind::unreadable;
    found.error = look.error;
    return found;
  }
  DWORD attributes = look.value;
  // A real reparse point is removed and moved as itself; its target is
  // looked at before it is opened.
  found.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!found.link) found.pin = pin_of(attributes);
  BY_HANDLE_FILE_INFORMATION target = {};
  if (found.link && identify(name, &target)) attributes = target.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    found.kind = Kind::folder;
    return found;
  }
  // A name that is no link is opened as what it is, not followed.
  Result<HANDLE> file = open_handle(name, GENERIC_READ, kShareAll, OPEN_EXISTING,
                                    found.link ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OPEN_REPARSE_POINT);
  if (file.error) {
    found.dangling = found.link && nothing_there(file.error);
    found.kind = Kind::unreadable;
    found.error = file.error;
    return found;
  }
  take_open(found, file.value, name, folder, target);
  return found;
}

Found look_at_leftover(const char* name, const Folder& folder) {
  Found found;
  Result<DWORD> look = attributes_of(name);
  if (look.error) {
    if (!nothing_there(look.error)) found.kind = Kind::unreadable;
    return found;
  }
  DWORD attributes = look.value;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    found.kind = Kind::folder;
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    found.kind = Kind::link;  // DeleteFileW() removes the link itself
  } else {
    found.kind = Kind::regular;
    found.pin = pin_of(attributes);
    // Where it cannot be opened, it cannot be told to lead elsewhere.
    Result<HANDLE> file = open_handle(name, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (!file.error) {
      found.here = lies_here(file.value, name, folder);
      (void)CloseHandle(file.value);
    }
  }
  return found;
}

PathLook look_along(std::string_view path) {
  // identify() opens what a link leads to: a dangling link is nothing.
  PathLook look;
  Bytes name;
  BY_HANDLE_FILE_INFORMATION info;
  if (name.append(path) && name.c_str() != nullptr && identify(name.c_str(), &info) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    look.kind = Kind::regular;
  return look;
}

bool name_taken(const char* name) {
  return !nothing_there(attributes_of(name).error);
}

// --- Reading and writing -----------------------------------------------------------

Result<size_t> read_text(int fd, std::span<char> buffer) {
  // One byte of room is kept for the byte after a CR at the block's end.
  int got = _read(fd, buffer.data(), static_cast<unsigned>(buffer.size() - 1));
  if (got < 0) return {0, last_error()};
  // A CR at the block's end: the byte after it tells whether the two are a
  // CR LF; any other byte is read again with the next block.
  if (got > 0 && buffer[got - 1] == '\r' && _read(fd, buffer.data() + got, 1) == 1) {
    if (buffer[got] == '\n')
      ++got;
    else if (_lseeki64(fd, -1, SEEK_CUR) < 0)
      return {0, last_error()};
  }
  size_t out = 0;
  for (int i = 0; i < got; ++i) {
    if (buffer[i] == '\r' && i + 1 < got && buffer[i + 1] == '\n') continue;
    buffer[out++] = buffer[i];
  }
  return {out, SystemError()};
}

Result<size_t> read_at(int fd, std::span<char> buffer, std::uint64_t offset) {
  // The descriptors read bytes (_O_BINARY).
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return {0, last_error()};
  size_t got = 0;
  while (got < buffer.size()) {
    int part = _read(fd, buffer.data() + got, static_cast<unsigned>(buffer.size() - got));
    if (part < 0) return {got, last_error()};
    if (part == 0) break;
    got += static_cast<size_t>(part);
  }
  return {got, SystemError()};
}

Result<Descriptor> create_file(const char* name) {
  // CREATE_NEW fails on any existing name.  The file is never read-only:
  // the next switch renames over it.
  Result<HANDLE> file = open_handle(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL);
  if (file.error) return {Descriptor(), file.error};
  Descriptor made = descriptor_of(file.value, _O_WRONLY | _O_TEXT);
  if (made) return {std::move(made), SystemError()};
  SystemError error = last_error();
  (void)remove_name(name);  // this run's own, empty
  return {Descriptor(), error};
}

SystemError write_text(int fd, std::string_view text) {
  // In text mode _write() makes every line feed CR LF and counts the bytes
  // of |text| it took.
  while (!text.empty()) {
    unsigned chunk = text.size() < (1u << 30) ? static_cast<unsigned>(text.size()) : 1u << 30;
    int put = _write(fd, text.data(), chunk);
    if (put <= 0) return last_error();
    text.remove_prefix(static_cast<size_t>(put));
  }
  return SystemError();
}

void release_before_rename(Descriptor& file) {
  // A file open here, even shared for deleting, cannot be replaced.
  file.reset();
}

SystemError copy_permissions(int, int) {
  // The file keeps the permissions it inherited from the folder.
  return SystemError();
}

SystemError flush_file(int fd) {
  return _commit(fd) == 0 ? SystemError() : last_error();
}

SystemError remove_name(const char* name) {
  Wide wide = widen(name);
  if (wide.error) return wide.error;
  return retried([&] { return DeleteFileW(wide.text) != 0; });
}

SystemError link_name(const char* from, const char* to) {
  Wide wide_from = widen(from), wide_to = widen(to);
  if (wide_from.error || wide_to.error) return wide_from.error ? wide_from.error : wide_to.error;
  return retried([&] { return CreateHardLinkW(wide_to.text, wide_from.text, nullptr) != 0; });
}

// Moves |from| to |to| with |flags| added to a write-through move, so that
// the new name is on the disk when the call returns (a folder cannot be
// flushed here); a brief lock is waited out.
static SystemError move_file(const char* from, const char* to, DWORD flags) {
  Wide wide_from = widen(from), wide_to = widen(to);
  if (wide_from.error || wide_to.error) return wide_from.error ? wide_from.error : wide_to.error;
  return retried([&] { return MoveFileExW(wide_from.text, wide_to.text, flags | MOVEFILE_WRITE_THROUGH) != 0; });
}

SystemError rename_name(const char* from, const char* to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when |to| exists.
  return move_file(from, to, 0);
}

SystemError replace_name(const char* from, const char* to) {
  return move_file(from, to, MOVEFILE_REPLACE_EXISTING);
}

SystemError touch_name(const char* name) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a link's own time, never its target's.
  Result<HANDLE> file = open_handle(name, FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT);
  if (file.error) return file.error;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SystemError error = SetFileTime(file.value, nullptr, nullptr, &now) != 0 ? SystemError() : last_error();
  if (CloseHandle(file.value) == 0 && !error) error = last_error();
  return error;
}
