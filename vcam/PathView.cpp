#include "PathView.h"

#include "SysfsTree.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>

namespace {
struct Listing
{
    std::vector<std::pair<std::string, unsigned char>> extra;
    size_t next = 0;
    struct dirent64 entry;
};

std::mutex mutex;
std::map<int, std::string> directories;
std::map<DIR *, Listing> listings;

std::string normalised(const std::string &path)
{
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string &component : components)
        result += "/" + component;
    return result.empty() ? "/" : result;
}
} // namespace

std::string PathView::logical(int dirfd, const char *path)
{
    if (!path)
        return {};
    if (path[0] == '/')
        return path;
    if (dirfd == AT_FDCWD)
        return {};
    std::lock_guard<std::mutex> lock(mutex);
    auto found = directories.find(dirfd);
    if (found == directories.end())
        return {};
    return normalised(found->second + "/" + path);
}

void PathView::opened(int fd, const std::string &logical)
{
    if (fd < 0 || logical.empty())
        return;
    const std::string path = normalised(logical);
    std::lock_guard<std::mutex> lock(mutex);
    if (SysfsTree::isPlace(path))
        directories[fd] = path;
    else
        directories.erase(fd);
}

std::string PathView::of(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = directories.find(fd);
    return found == directories.end() ? std::string() : found->second;
}

void PathView::closed(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    directories.erase(fd);
}

void PathView::listing(DIR *dir, std::vector<std::pair<std::string, unsigned char>> extra)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (extra.empty())
        listings.erase(dir);
    else
        listings[dir].extra = std::move(extra);
}

void PathView::seen(DIR *dir, const char *name)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = listings.find(dir);
    if (found == listings.end())
        return;
    auto &extra = found->second.extra;
    extra.erase(std::remove_if(extra.begin() + long(found->second.next), extra.end(),
                               [name](const auto &item) { return item.first == name; }),
                extra.end());
}

struct dirent64 *PathView::nextExtra(DIR *dir)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = listings.find(dir);
    if (found == listings.end() || found->second.next >= found->second.extra.size())
        return nullptr;
    Listing &listing = found->second;
    const auto &item = listing.extra[listing.next++];
    std::memset(&listing.entry, 0, sizeof listing.entry);
    listing.entry.d_ino = 0x7a7a0000 + listing.next;
    listing.entry.d_off = long(listing.next);
    listing.entry.d_reclen = sizeof listing.entry;
    listing.entry.d_type = item.second;
    std::strncpy(listing.entry.d_name, item.first.c_str(), sizeof listing.entry.d_name - 1);
    return &listing.entry;
}

void PathView::closedDir(DIR *dir)
{
    std::lock_guard<std::mutex> lock(mutex);
    listings.erase(dir);
}
