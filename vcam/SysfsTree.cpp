#include "SysfsTree.h"

#include "RealCalls.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kClassDir[] = "/sys/class/video4linux";
const char kCharDir[] = "/sys/dev/char/81:";
// Where the two places live in the private folder: the same paths without "/sys".
const char kClassCopy[] = "/class/video4linux";
const char kUsbDevice[] = "/devices/pci0000:00/0000:00:14.0/usb1/1-1";

void makeDirs(const std::string &path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    ::mkdir(path.c_str(), 0755);
}

void writeFile(const std::string &path, const std::string &text)
{
    const int fd = RealCalls::get().open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t written = RealCalls::get().write(fd, text.data(), text.size());
    (void)written;
    RealCalls::get().close(fd);
}

bool startsWith(const char *path, const char *prefix, size_t length)
{
    return std::strncmp(path, prefix, length) == 0;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}
} // namespace

SysfsTree::SysfsTree(std::string cardName, std::string serial) : card(std::move(cardName))
{
    removeAbandoned();
    std::string folder = "/tmp/tarn-vcam-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(&folder[0]))
        return;
    root = folder;
    const std::string usb = root + kUsbDevice;
    makeDirs(usb + "/1-1:1.0");
    makeDirs(root + kClassCopy);
    makeDirs(root + "/dev/char");
    const std::string product = card.substr(0, card.find(": "));
    writeFile(usb + "/idVendor", "2bdf\n");
    writeFile(usb + "/idProduct", "0102\n");
    writeFile(usb + "/product", product + "\n");
    writeFile(usb + "/manufacturer", "Tarn\n");
    writeFile(usb + "/busnum", "1\n");
    writeFile(usb + "/devnum", "2\n");
    writeFile(usb + "/speed", "480\n");
    if (!serial.empty())
        writeFile(usb + "/serial", serial + "\n");
    writeFile(usb + "/1-1:1.0/bInterfaceClass", "0e\n");
    writeFile(usb + "/1-1:1.0/bInterfaceNumber", "00\n");
    writeFile(usb + "/1-1:1.0/interface", "UVC Camera\n");

    // The machine's own nodes stay visible.
    if (DIR *dir = RealCalls::get().opendir(kClassDir)) {
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string name = entry->d_name;
            ::symlink((std::string(kClassDir) + "/" + name).c_str(),
                      (root + kClassCopy + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    if (DIR *dir = RealCalls::get().opendir("/sys/dev/char")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, "81:", 3) == 0)
                ::symlink((std::string("/sys/dev/char/") + entry->d_name).c_str(),
                          (root + "/dev/char/" + entry->d_name).c_str());
        }
        ::closedir(dir);
    }
}

void SysfsTree::removeAbandoned()
{
    // The folders of processes that ended without their exit handlers (killed, crashed).
    DIR *dir = RealCalls::get().opendir("/tmp");
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        int pid = 0;
        if (std::sscanf(entry->d_name, "tarn-vcam-%d-", &pid) == 1 && pid > 0 && ::kill(pid, 0) != 0 &&
            errno == ESRCH)
            ::nftw((std::string("/tmp/") + entry->d_name).c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    ::closedir(dir);
}

SysfsTree::~SysfsTree()
{
    remove();
}

void SysfsTree::remove()
{
    if (!root.empty())
        ::nftw(root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    root.clear();
}

std::string SysfsTree::interfaceDir() const
{
    return root + kUsbDevice + "/1-1:1.0";
}

void SysfsTree::publish(int node)
{
    if (root.empty())
        return;
    const std::string name = "video" + std::to_string(node);
    const std::string dir = interfaceDir() + "/video4linux/" + name;
    makeDirs(dir);
    writeFile(dir + "/name", card + "\n");
    writeFile(dir + "/index", "0\n");
    writeFile(dir + "/dev", "81:" + std::to_string(node) + "\n");
    writeFile(dir + "/uevent", "MAJOR=81\nMINOR=" + std::to_string(node) + "\nDEVNAME=" + name + "\n");
    ::symlink("../../../1-1:1.0", (dir + "/device").c_str());
    const std::string target = std::string("../..") + kUsbDevice + "/1-1:1.0/video4linux/" + name;
    ::unlink((root + kClassCopy + "/" + name).c_str());
    ::unlink((root + "/dev/char/81:" + std::to_string(node)).c_str());
    ::symlink(target.c_str(), (root + kClassCopy + "/" + name).c_str());
    ::symlink(target.c_str(), (root + "/dev/char/81:" + std::to_string(node)).c_str());
}

void SysfsTree::withdraw(int node)
{
    if (root.empty())
        return;
    const std::string name = "video" + std::to_string(node);
    ::unlink((root + kClassCopy + "/" + name).c_str());
    ::unlink((root + "/dev/char/81:" + std::to_string(node)).c_str());
    ::nftw((interfaceDir() + "/video4linux/" + name).c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string SysfsTree::redirect(const char *path) const
{
    if (root.empty() || !path || path[0] != '/')
        return {};
    const size_t classLength = sizeof kClassDir - 1;
    if (startsWith(path, kClassDir, classLength) && (path[classLength] == '\0' || path[classLength] == '/'))
        return root + (path + std::strlen("/sys"));
    if (startsWith(path, kCharDir, sizeof kCharDir - 1))
        return root + (path + std::strlen("/sys"));
    return {};
}
