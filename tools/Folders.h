// A distribution folder on the host as the installer finds its files on Windows: names compared
// without regard to letter case. Shared by the publisher's tools (the dry run, the packer).
#pragma once

#include <string>
#include <vector>

// `text` in lower case (ASCII letters only, as the file names of a distribution are compared).
std::string Lower(std::string text);
// The names in `folder`, sorted; none when it cannot be read.
std::vector<std::string> FolderEntries(const std::string &folder);
// The entry of `folder` named `name`: itself when it exists, otherwise the first, in sorted order,
// that differs only in letter case, as Windows finds it; empty when none.
std::string FindInFolder(const std::string &folder, const std::string &name);
