// The process around a run: its inherited state, its command line, the
// folder it works in, and its console.  posix.cc and windows.cc implement
// them, beside the file-system calls of disk.h.
#pragma once

#include <span>

#include "disk.h"

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
std::span<const char* const> command_words(int argc, char** argv, CommandLine& room);

// How entering the mod folder ended.
struct Entered {
  SystemError error;   // why the folder could not be entered
  // Where root met a symbolic link that it follows not: the path walked up
  // to and including that link; empty where it met none.
  Bytes guarded_link;
};

// Makes |path| the current folder.  Run as root (POSIX), the path is
// followed one step at a time, from "/" or from the current folder (which
// is not looked at itself), and a symbolic link on the way, the last step
// included, is followed by its text, and only where it belongs to root in
// a folder that no other account owns or may write; at most 40 links.  The
// current folder is then the folder that the walk reached, so that nothing
// put on the way since counts.  Anyone else's path is followed by the
// system.
Entered enter_folder(const char* path);

// Whether the program's console is its own (a double-click or a dropped
// folder on Windows) rather than a command prompt's or a script's.
bool own_console();

// Keeps the program's own console open for a few seconds, longer after a
// failure, so that its last line can be read.
void hold_window(bool failed);
