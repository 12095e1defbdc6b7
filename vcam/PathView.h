#pragma once

#include <dirent.h>
#include <string>
#include <vector>

// How a program's paths reach the virtual camera's places when it walks them a step at a time, as
// libudev does (openat of one name relative to a directory descriptor, readlinkat, fstatat): the
// descriptors of the directories on the way keep the path they stand for (their logical path), so a
// name relative to one is known as a whole path. And the names a listing of /dev or /sys/class shows
// besides the machine's own. Any thread.
namespace PathView {
// The logical path of path relative to dirfd, "." and ".." resolved: path itself when absolute, joined
// to dirfd's when dirfd is a kept directory; empty when not known (relative to the working directory
// or another descriptor).
std::string logical(int dirfd, const char *path);
// fd was opened at logical: kept when it is one of the camera's places or on the way to one.
void opened(int fd, const std::string &logical);
void closed(int fd);
// The logical path fd was kept with; empty for any other descriptor.
std::string of(int fd);

// A listing opened at logical shows extra after the machine's names (each name once).
void listing(DIR *dir, std::vector<std::pair<std::string, unsigned char>> extra);
// The next extra name of dir once the machine's are done; null when there is none (or dir has none).
struct dirent64 *nextExtra(DIR *dir);
// A name the machine listed: not shown again as an extra.
void seen(DIR *dir, const char *name);
void closedDir(DIR *dir);
} // namespace PathView
