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
// The logical places and where they live in the private folder.
const struct
{
    const char *logical;
    const char *copy;
    bool wholeName; // the place is the directory itself, not a name prefix ("/sys/dev/char/81:")
} kPlaces[] = {
    {"/sys/class/video4linux", "/class/video4linux", true},
    {"/sys/dev/char/81:", "/dev/char/81:", false},
    {"/sys/devices/platform/tarn-vcam-hcd.0", "/devices/platform/tarn-vcam-hcd.0", true},
    {"/run/udev/data/c81:", "/run/udev/data/c81:", false},
    {"/dev/v4l", "/devfs/v4l", true},
};

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

void link(const std::string &target, const std::string &path)
{
    ::unlink(path.c_str());
    ::symlink(target.c_str(), path.c_str());
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

void removeTree(const std::string &path)
{
    ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xffff);
    return text;
}

// udev's way of making a string a name: blanks become '_'.
std::string udevName(std::string text)
{
    for (char &c : text) {
        if (c == ' ' || c == '/')
            c = '_';
    }
    return text;
}

std::string readLink(const std::string &path)
{
    char target[512];
    const ssize_t length = RealCalls::get().readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, size_t(length)) : std::string();
}
} // namespace

SysfsTree::SysfsTree()
{
    removeAbandoned();
    std::string folder = "/tmp/tarn-vcam-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(&folder[0]))
        return;
    root = folder;
    for (const auto &place : kPlaces) {
        std::string copy = root + place.copy;
        makeDirs(place.wholeName ? copy : copy.substr(0, copy.rfind('/')));
    }
    makeDirs(root + "/devfs/v4l/by-id");
    makeDirs(root + "/devfs/v4l/by-path");

    // The machine's own nodes stay visible.
    if (DIR *dir = RealCalls::get().opendir("/sys/class/video4linux")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.')
                link(std::string("/sys/class/video4linux/") + entry->d_name,
                     root + "/class/video4linux/" + entry->d_name);
        }
        ::closedir(dir);
    }
    if (DIR *dir = RealCalls::get().opendir("/sys/dev/char")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, "81:", 3) == 0)
                link(std::string("/sys/dev/char/") + entry->d_name, root + "/dev/char/" + entry->d_name);
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
            removeTree(std::string("/tmp/") + entry->d_name);
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
        removeTree(root);
    root.clear();
}

std::string SysfsTree::busInfo(int port)
{
    return std::string("usb-") + HostController + "-" + std::to_string(port);
}

std::string SysfsTree::usbDevice(int port) const
{
    return std::string("/devices/platform/") + HostController + "/usb9/9-" + std::to_string(port);
}

void SysfsTree::publish(int node, int index, const UsbIdentity &identity)
{
    if (root.empty())
        return;
    const std::string port = std::to_string(identity.port);
    const std::string usb = root + usbDevice(identity.port);
    const std::string interface = usb + "/9-" + port + ":1.0";
    if (::access(interface.c_str(), F_OK) != 0) {
        makeDirs(interface + "/video4linux");
        makeDirs(root + "/devices/platform/" + HostController + "/usb9");
        writeFile(usb + "/idVendor", hex4(identity.vendorId) + "\n");
        writeFile(usb + "/idProduct", hex4(identity.productId) + "\n");
        if (!identity.product.empty())
            writeFile(usb + "/product", identity.product + "\n");
        if (!identity.manufacturer.empty())
            writeFile(usb + "/manufacturer", identity.manufacturer + "\n");
        if (!identity.serial.empty())
            writeFile(usb + "/serial", identity.serial + "\n");
        writeFile(usb + "/busnum", "9\n");
        writeFile(usb + "/devnum", std::to_string(identity.port + 1) + "\n");
        writeFile(usb + "/devpath", port + "\n");
        writeFile(usb + "/speed", "480\n");
        writeFile(usb + "/uevent", "DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" + hex4(identity.vendorId) +
                                       "/" + hex4(identity.productId) + "/100\nTYPE=239/2/1\nBUSNUM=009\n");
        link("../../../../../bus/usb", usb + "/subsystem");
        writeFile(interface + "/bInterfaceClass", "0e\n");
        writeFile(interface + "/bInterfaceSubClass", "01\n");
        writeFile(interface + "/bInterfaceNumber", "00\n");
        writeFile(interface + "/interface", "UVC Camera\n");
        writeFile(interface + "/uevent", "DEVTYPE=usb_interface\nDRIVER=uvcvideo\nINTERFACE=14/1/0\n");
        link("../../../../../../bus/usb", interface + "/subsystem");
    }

    const std::string name = "video" + std::to_string(node);
    const std::string minor = std::to_string(node);
    const std::string dir = interface + "/video4linux/" + name;
    makeDirs(dir);
    writeFile(dir + "/name", identity.card + "\n");
    writeFile(dir + "/index", std::to_string(index) + "\n");
    writeFile(dir + "/dev", "81:" + minor + "\n");
    writeFile(dir + "/uevent", "MAJOR=81\nMINOR=" + minor + "\nDEVNAME=" + name + "\n");
    link("../../../9-" + port + ":1.0", dir + "/device");
    link("../../../../../../../../class/video4linux", dir + "/subsystem");
    const std::string target = "../.." + usbDevice(identity.port) + "/9-" + port + ":1.0/video4linux/" + name;
    link(target, root + "/class/video4linux/" + name);
    link(target, root + "/dev/char/81:" + minor);

    // What udev would have made of it: its database entry and the stable links.
    const std::string serial =
        udevName(identity.manufacturer.empty() ? hex4(identity.vendorId) : identity.manufacturer) + "_" +
        udevName(identity.product.empty() ? hex4(identity.productId) : identity.product) +
        (identity.serial.empty() ? "" : "_" + identity.serial);
    const std::string byId = "usb-" + serial + "-video-index" + std::to_string(index);
    const std::string path = std::string("platform-") + HostController + "-usb-0:" + port + ":1.0";
    const std::string byPath = path + "-video-index" + std::to_string(index);
    link("../../" + name, root + "/devfs/v4l/by-id/" + byId);
    link("../../" + name, root + "/devfs/v4l/by-path/" + byPath);
    writeFile(root + "/run/udev/data/c81:" + minor,
              "S:v4l/by-id/" + byId + "\nS:v4l/by-path/" + byPath +
                  "\nI:1000000\nE:ID_V4L_VERSION=2\nE:ID_V4L_PRODUCT=" + identity.card +
                  "\nE:ID_V4L_CAPABILITIES=" + (index == 0 ? ":capture:" : ":") +
                  "\nE:ID_VENDOR_ID=" + hex4(identity.vendorId) +
                  "\nE:ID_MODEL_ID=" + hex4(identity.productId) + "\nE:ID_SERIAL=" + serial +
                  "\nE:ID_SERIAL_SHORT=" + identity.serial + "\nE:ID_BUS=usb\nE:ID_USB_INTERFACE_NUM=00" +
                  "\nE:ID_USB_DRIVER=uvcvideo\nE:ID_PATH=" + path + "\nG:uaccess\nQ:uaccess\nV:1\n");
}

void SysfsTree::withdraw(int node)
{
    if (root.empty())
        return;
    const std::string name = "video" + std::to_string(node);
    const std::string classLink = root + "/class/video4linux/" + name;
    const std::string dir = readLink(classLink);
    ::unlink(classLink.c_str());
    ::unlink((root + "/dev/char/81:" + std::to_string(node)).c_str());
    ::unlink((root + "/run/udev/data/c81:" + std::to_string(node)).c_str());
    for (const char *links : {"/devfs/v4l/by-id", "/devfs/v4l/by-path"}) {
        if (DIR *folder = RealCalls::get().opendir((root + links).c_str())) {
            while (const dirent *entry = ::readdir(folder)) {
                const std::string path = root + links + "/" + entry->d_name;
                if (readLink(path) == "../../" + name)
                    ::unlink(path.c_str());
            }
            ::closedir(folder);
        }
    }
    if (!dir.empty())
        removeTree(root + "/class/video4linux/" + dir);
}

bool SysfsTree::isPlace(const std::string &path)
{
    static const char *const parents[] = {"/",
                                          "/sys",
                                          "/sys/class",
                                          "/sys/dev",
                                          "/sys/devices",
                                          "/sys/devices/platform",
                                          "/sys/dev/char",
                                          "/run",
                                          "/run/udev",
                                          "/run/udev/data",
                                          "/dev"};
    for (const char *parent : parents) {
        if (path == parent)
            return true;
    }
    for (const auto &place : kPlaces) {
        const size_t length = std::strlen(place.logical);
        if (path.compare(0, length, place.logical) == 0 &&
            (!place.wholeName || path.size() == length || path[length] == '/'))
            return true;
    }
    return false;
}

std::string SysfsTree::redirect(const char *path) const
{
    if (root.empty() || !path || path[0] != '/')
        return {};
    for (const auto &place : kPlaces) {
        const size_t length = std::strlen(place.logical);
        if (std::strncmp(path, place.logical, length) == 0 &&
            (!place.wholeName || path[length] == '\0' || path[length] == '/'))
            return root + place.copy + (path + length);
    }
    return {};
}
