// The serial devices of this computer and the "COMn" entries of the start-up
// directory that name them. Only finding and linking: the port itself is
// opened by the link's termios layer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the program's user may do with a device.
enum class TDeviceAccess {
    Usable,        // it may be opened for reading and writing
    NoPermission,  // it exists but the user may not open it (dialout)
    Missing,       // nothing is there (any more)
};

struct TSerialDevice {
    std::string Path;        // e.g. /dev/ttyUSB0
    std::string StablePath;  // the /dev/serial/by-id/ name, or empty
    std::string Description;
    std::string Manufacturer;
    std::string SerialNumber;
    TDeviceAccess Access = TDeviceAccess::Usable;
};

// The serial devices Qt Serial Port finds, with their by-id names from
// byIdDir; in the order found.
std::vector<TSerialDevice> FindSerialDevices(const std::string& byIdDir = "/dev/serial/by-id");

// The entry of byIdDir that is a link to device (compared as resolved
// paths), or empty.
std::string StablePathOf(const std::string& device, const std::string& byIdDir);

// Whether path can be opened for reading and writing by this user.
TDeviceAccess DeviceAccess(const std::string& path);

// What the port name opens: the device path and whether it is there.
struct TPortDevice {
    std::string Device;   // where ResolvePortDevice leads (link target for a link)
    bool Link = false;    // a COMn entry of the start-up directory
    bool Exists = false;  // the device (or the link's target) exists
};
TPortDevice PortDeviceOf(const std::string& portName, const std::string& startDir);

enum class TPortLinkResult {
    Linked,        // startDir/portName now links to the target
    TargetGone,    // the chosen device is not there any more: nothing changed
    AskToReplace,  // an entry that is not a link is there: ask, then replace
    RegularFile,   // a regular file (or directory) is there: never replaced
    Failed,        // the file system refused (see LastPortLinkError): nothing changed
};

// Makes startDir/portName a symbolic link to target, replacing a link in
// one step. An entry that is neither a link nor a regular file or directory
// is replaced only with replaceNonLink; otherwise AskToReplace.
TPortLinkResult MakePortLink(const std::string& startDir, const std::string& portName,
                             const std::string& target, bool replaceNonLink);
// errno of this thread's last MakePortLink that Failed; 0 after any other
// result.
int LastPortLinkError();

// The text of one device for a list: path, description, manufacturer,
// serial number, the stable name and, when it may not be opened, its group
// and whether the user is in it.
std::string DeviceLabel(const TSerialDevice& device);

// The group that owns a device and whether this process is in it.
struct TDeviceGroup {
    std::string Name;  // the group's name, or its number when it has none
    unsigned Gid = 0;
    bool Member = false;
};
std::optional<TDeviceGroup> DeviceGroupOf(const std::string& device);

// Whose device is: "Устройство D принадлежит группе G; ..." and whether
// this process is in that group (then the device's own permissions bar
// it), else how to get there (never by joining root's group); empty when
// device cannot be looked at.
std::string DeviceGroupText(const std::string& device);
std::string DeviceGroupText(const std::string& device, const TDeviceGroup& group);

// The message for a device that may not be opened: whose it is (see
// DeviceGroupText), or the dialout group when it cannot be looked at.
std::string NoPermissionText(const std::string& device);
