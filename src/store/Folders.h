#pragma once

#include <QString>

// What the file system allows in a folder, found out the only sure way: by trying. Permissions,
// read-only media, quotas and network shares all answer the same question here.
namespace store::folders {

enum class Problem {
    None,     // a file can be created and written there
    ReadOnly, // no permission to write, or a read-only medium
    Full,     // no room left on the disk, or the user's quota is used up
    Missing,  // the folder does not exist
    Unknown,  // another failure, which the operation itself will report
};

// Creates, writes and removes a small file in `folder`, and says what stopped it.
Problem writeProblem(const QString& folder);

// Opens the existing file `file` for writing, without changing it, and says what stopped it.
Problem fileWriteProblem(const QString& file);

// The longest file name the file system of `folder` takes, counted as nameLength() counts.
int nameLimit(const QString& folder);
// The length of a file name as the file system counts it (bytes of its encoding on Unix).
int nameLength(const QString& name);

// True when `text` holds a control character (a line break, a tab, ...).
bool hasControlCharacters(const QString& text);

} // namespace store::folders
