// Distribution folders on the host, their names compared as Windows compares them.
#include "tools/Folders.h"

#include <ctype.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

static const char CURRENT_DIRECTORY[] = ".";

std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

std::vector<std::string> FolderEntries(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir))
            names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FindInFolder(const std::string &folder, const std::string &name)
{
    struct stat info;
    if (name == CURRENT_DIRECTORY || lstat((folder + "/" + name).c_str(), &info) == 0)
        return name;
    for (const std::string &entry : FolderEntries(folder)) {
        if (Lower(entry) == Lower(name))
            return entry;
    }
    return "";
}
