#include "link/serial_devices.h"

#include <grp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include <QSerialPortInfo>

#include "link/comm_port.h"

namespace fs = std::filesystem;

std::string StablePathOf(const std::string& device, const std::string& byIdDir) {
    std::error_code ec;
    const fs::path wanted = fs::canonical(device, ec);
    if (ec) return "";
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (fs::canonical(it->path(), e2) == wanted && !e2) return it->path().string();
    }
    return "";
}

TDeviceAccess DeviceAccess(const std::string& path) {
    if (access(path.c_str(), R_OK | W_OK) == 0) return TDeviceAccess::Usable;
    return errno == ENOENT || errno == ENOTDIR ? TDeviceAccess::Missing
                                               : TDeviceAccess::NoPermission;
}

std::vector<TSerialDevice> FindSerialDevices(const std::string& byIdDir) {
    std::vector<TSerialDevice> found;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        TSerialDevice d;
        d.Path = info.systemLocation().toStdString();
        d.StablePath = StablePathOf(d.Path, byIdDir);
        d.Description = info.description().toStdString();
        d.Manufacturer = info.manufacturer().toStdString();
        d.SerialNumber = info.serialNumber().toStdString();
        d.Access = DeviceAccess(d.Path);
        found.push_back(d);
    }
    return found;
}

TPortDevice PortDeviceOf(const std::string& portName, const std::string& startDir) {
    TPortDevice p;
    p.Device = ResolvePortDevice(portName, startDir);
    struct stat st = {};
    if (lstat(p.Device.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        p.Link = true;
        std::error_code ec;
        const fs::path target = fs::read_symlink(p.Device, ec);
        if (!ec)
            p.Device =
                target.is_absolute() ? target.string() : (fs::path(startDir) / target).string();
    }
    p.Exists = stat(p.Device.c_str(), &st) == 0;
    return p;
}

namespace {

thread_local int lastPortLinkError = 0;

}  // namespace

TPortLinkResult MakePortLink(const std::string& startDir, const std::string& portName,
                             const std::string& target, bool replaceNonLink) {
    lastPortLinkError = 0;
    struct stat st = {};
    if (stat(target.c_str(), &st) != 0) return TPortLinkResult::TargetGone;
    const std::string entry = startDir + "/" + portName;
    if (lstat(entry.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return TPortLinkResult::RegularFile;
        if (!replaceNonLink) return TPortLinkResult::AskToReplace;
    }
    // A new link under a private name, renamed over the entry: the entry is
    // never missing and never half made.
    const std::string temporary = entry + ".new-link-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), entry.c_str()) != 0) {
        lastPortLinkError = errno;
        unlink(temporary.c_str());
        return TPortLinkResult::Failed;
    }
    return TPortLinkResult::Linked;
}

int LastPortLinkError() {
    return lastPortLinkError;
}

std::string DeviceLabel(const TSerialDevice& d) {
    std::string label = d.Path;
    for (const std::string* part : {&d.Description, &d.Manufacturer}) {
        if (!part->empty()) label += " - " + *part;
    }
    if (!d.SerialNumber.empty()) label += ", зав. № " + d.SerialNumber;
    if (!d.StablePath.empty()) label += " (" + d.StablePath + ")";
    switch (d.Access) {
        case TDeviceAccess::Usable:
            break;
        case TDeviceAccess::NoPermission:
            label += " - нет доступа";
            if (const std::optional<TDeviceGroup> g = DeviceGroupOf(d.Path))
                label += " (группа " + g->Name + ", пользователь в нее " +
                         (g->Member ? "входит)" : "не входит)");
            break;
        case TDeviceAccess::Missing:
            label += " - отсутствует";
            break;
    }
    return label;
}

std::optional<TDeviceGroup> DeviceGroupOf(const std::string& device) {
    struct stat st;
    if (stat(device.c_str(), &st) != 0) return std::nullopt;
    TDeviceGroup g;
    g.Gid = st.st_gid;
    g.Name = std::to_string(st.st_gid);
    group entry;
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        g.Name = found->gr_name;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) != count) groups.clear();
    g.Member = getegid() == st.st_gid ||
               std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    return g;
}

std::string DeviceGroupText(const std::string& device, const TDeviceGroup& g) {
    const std::string head = "Устройство " + device + " принадлежит группе " + g.Name;
    if (g.Member)
        return head + "; пользователь в нее входит, доступ закрыт правами самого устройства.";
    // Membership of root's group is no way to a port: the device's group
    // is changed instead.
    if (g.Gid == 0)
        return head +
               "; пользователь в нее не входит. Попросите администратора открыть доступ к "
               "устройству правилом udev (например, GROUP=\"dialout\", MODE=\"0660\").";
    // A user added to the group lately is in it only from the next login.
    return head + "; пользователь в нее не входит (добавьте его в группу " + g.Name +
           " и войдите в систему заново).";
}

std::string DeviceGroupText(const std::string& device) {
    const std::optional<TDeviceGroup> g = DeviceGroupOf(device);
    return g ? DeviceGroupText(device, *g) : std::string();
}

std::string NoPermissionText(const std::string& device) {
    // Say whose device it is rather than guess the group.
    const std::string owner = DeviceGroupText(device);
    return "Нет доступа к устройству " + device + ". " +
           (owner.empty() ? "Для работы с СОМ-портом пользователь должен входить в группу dialout."
                          : owner);
}
