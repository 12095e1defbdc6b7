#pragma once

#include <string>

// The sysfs facts of the virtual camera, published as real files in a private folder: the node's
// directory (name, index, dev, uevent) under a USB interface of a USB device (idVendor, serial, ...),
// reached by the links /sys/class/video4linux/videoN and /sys/dev/char/81:N. The libc entry points of
// the process send reads of those two places here (redirect); the real nodes of the machine stay
// listed, as links back into /sys. Callers serialise publish/withdraw; redirect may run any time.
class SysfsTree
{
public:
    SysfsTree(std::string card, std::string serial);
    ~SysfsTree();
    SysfsTree(const SysfsTree &) = delete;
    SysfsTree &operator=(const SysfsTree &) = delete;

    // Removes the folder; redirect answers nothing after.
    void remove();

    void publish(int node);
    void withdraw(int node);

    // Where a path under /sys/class/video4linux or /sys/dev/char/81:* is answered from; empty for
    // every other path (and when the folder could not be made).
    std::string redirect(const char *path) const;

private:
    std::string interfaceDir() const;
    static void removeAbandoned();

    std::string root; // the private folder; empty when it could not be made
    std::string card;
};
