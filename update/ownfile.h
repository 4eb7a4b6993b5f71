#pragma once

#include <string>

// Files the lobby hands to its updater, in the folder of the program. Someone else who can
// write to that folder could put a link or a file of their own where the next file is
// expected: these write only new regular files of the user's own (never through a link),
// and read only files that are the user's own and no one else may change.
namespace ownfile {

// False, with why, when another user (group or others) may write to folder, or it is not
// a folder.
bool folderIsPrivate(const std::string &folder, std::string *why = nullptr);

// Replaces whatever is at path (a link itself, never what it points to) with a new
// regular file holding bytes, readable and writable by the user only.
bool writeNew(const std::string &path, const std::string &bytes, std::string *why = nullptr);

// The content of path when it is a regular file (not a link) of the user's own that no one
// else may write to, and no larger than maxBytes.
bool readOwn(const std::string &path, std::string &bytes, std::size_t maxBytes,
             std::string *why = nullptr);

// Creates a new regular file in folder, named prefix and a random part, readable and
// writable by the user only; its name goes to path. The open descriptor (read and write),
// or -1. Unlike a temporary file without a name that is linked in later, no second handle
// stays open: the file can be run once the descriptor is closed.
int createUnique(const std::string &folder, const std::string &prefix, std::string &path);

} // namespace ownfile
