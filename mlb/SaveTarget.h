// Where a save really writes and the names of its temporary files: a link is
// followed to the file it names (existing or not), and the temporary files of
// a save of one target have one pattern, ".<name>.tmp<pid>.<n>" beside the
// target, short enough for any name the directory accepts. Plain functions;
// any thread.
#pragma once

#include <string>

namespace veilex {

// The file a save of `path` replaces: `path` itself unless it is a symbolic
// link, else the file at the end of its chain of links, even one that does
// not exist yet (the save creates it and the links stay). A chain that loops
// or runs too long gives `path`.
std::string SaveTargetOf(const std::string& path);

// The directory part of `path` ("." without a "/", "/" for the root) and the
// name after its last "/".
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

// The temporary files of a save of `target` (as SaveTargetOf gives it) are
// named TemporaryStemOf(target) + <pid> + "." + <counter>, in its directory.
// A name too long for that pattern is shortened and made unique by a hash of
// the whole name, so the temporary name never passes 255 bytes.
std::string TemporaryStemOf(const std::string& target);

// Whether `name` (a name inside the target's directory, no "/") is a
// temporary file name of a save of `target`.
bool IsTemporaryNameOf(const std::string& name, const std::string& target);

// Removes the temporary files an interrupted save of `path` left beside its
// target: regular files whose name matches the pattern of this target and no
// other, made by a process that is no longer running (or by this one). Only
// for a caller that knows no save of that file is running (it holds the
// file's lock). Returns how many were removed.
int RemoveLeftoverTemporaries(const std::string& path);

}  // namespace veilex
