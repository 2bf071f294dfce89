// host.h - the few things the zv tool needs from its host system beyond the
// Win32 calls: one implementation per system (host_posix.cpp,
// host_windows.cpp), so the rest of the tool compiles unchanged on both.
#ifndef ZV_TOOLS_HOST_H
#define ZV_TOOLS_HOST_H

#include <stdio.h>

#include <string>
#include <vector>

#include "platform/win32.h"

namespace zvtool {

// The program's arguments, without its name, in UTF-8.  Windows passes a
// program's argv in the ANSI code page, where any character outside it is
// lost, so there the wide command line is read instead.
std::vector<std::string> Arguments(int argc, char** argv);

// Text written to a console arrives as the UTF-8 it is, until the program
// ends (the console's own setting is restored then).
void UseUtf8Console();

// The running program's file, or "" when the system does not say.
std::string ExecutablePath();

// Where the registry is kept: the emulated machine's database file, or the
// system's own registry.
std::string RegistryLocation();

// Whether an opened key is one the system serves itself rather than stores
// (Windows' performance text keys), which answers only some calls.
bool ServedBySystem(HKEY key);

// fopen for a UTF-8 file name.
FILE* OpenFile(const std::string& path, const char* mode);

// Creates a new directory that only this user can enter; false on failure.
bool MakePrivateDirectory(std::string* path);

// Makes this process use a registry of its own, kept in `directory`, from
// now on; *where says where it is.  Called before the registry is first used.
bool UsePrivateRegistry(const std::string& directory, std::string* where);
// Ends the use of the private registry (its directory is removed later).
void DropPrivateRegistry();

}  // namespace zvtool

#endif  // ZV_TOOLS_HOST_H
