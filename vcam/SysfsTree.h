#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a USB camera shows the machine besides its nodes: the USB device's facts and the strings its
// node's name is made from.
struct UsbIdentity
{
    std::string card;         // the capture node's name, as QUERYCAP's card
    std::string manufacturer; // empty: the device has no such string
    std::string product;
    std::string serial;
    uint16_t vendorId = 0x1209;
    uint16_t productId = 0x0001;
    int port = 1; // 1-based port on the virtual host controller: USB device 9-<port>
};

// The sysfs, udev and /dev facts of the virtual cameras, published as real files in a private folder
// made by the process and removed when it exits:
//   devices/platform/tarn-vcam-hcd.0/usb9/9-P                       USB device (idVendor, serial, ...)
//   devices/platform/tarn-vcam-hcd.0/usb9/9-P/9-P:1.0/video4linux/videoN   a node (name, index, dev, uevent)
//   class/video4linux/videoN, dev/char/81:N                         links to the node's directory
//   run/udev/data/c81:N                                             udev's database entry of the node
//   dev/v4l/by-id/..., dev/v4l/by-path/...                          links to ../../videoN
// The libc entry points send the paths a program uses for those places (logical paths, see redirect)
// into the folder. The machine's own video4linux nodes stay listed, as links back into /sys.
// Callers serialise publish/withdraw; redirect may run any time.
class SysfsTree
{
public:
    static constexpr const char *HostController = "tarn-vcam-hcd.0";

    SysfsTree();
    ~SysfsTree();
    SysfsTree(const SysfsTree &) = delete;
    SysfsTree &operator=(const SysfsTree &) = delete;

    // Removes the folder; redirect answers nothing after.
    void remove();

    // Node N, the index-th of the camera's interface (0 capture, 1 metadata).
    void publish(int node, int index, const UsbIdentity &identity);
    void withdraw(int node);

    // Where a logical path under one of the places above is answered from; empty for every other path
    // (and when the folder could not be made).
    std::string redirect(const char *path) const;
    // True for the logical places the folder answers for, and their parent directories a path walk
    // goes through ("/", "/sys", "/sys/devices", ...).
    static bool isPlace(const std::string &path);
    // The bus_info uvcvideo gives a camera on port.
    static std::string busInfo(int port);

private:
    static void removeAbandoned();
    std::string usbDevice(int port) const;

    std::string root; // the private folder; empty when it could not be made
};
