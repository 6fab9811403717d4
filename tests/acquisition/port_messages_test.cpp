// Whose a serial device is, as a port that cannot be opened tells it.
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <algorithm>

#include "link/serial_devices.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

TEST(DeviceGroupText, NamesTheOwnerGroupAndWhetherTheUserIsInIt) {
    TTempDir dir;
    const std::string device = dir.Path() + "/ttyUSB0";
    WriteFile(device, "");
    ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), getegid()), 0);
    const group* own = getgrgid(getegid());
    ASSERT_TRUE(own);
    EXPECT_EQ(DeviceGroupText(device), "Устройство " + device + " принадлежит группе " +
                                           own->gr_name +
                                           "; пользователь в нее входит, доступ закрыт правами "
                                           "самого устройства.");
    // A group of the system this process is not in (root may give a file
    // to any group).
    const group* dialout = getgrnam("dialout");
    if (dialout && dialout->gr_gid != getegid() &&
        chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid) == 0) {
        gid_t groups[256];
        const int n = std::max(getgroups(256, groups), 0);
        if (std::find(groups, groups + n, dialout->gr_gid) == groups + n) {
            EXPECT_EQ(DeviceGroupText(device),
                      "Устройство " + device +
                          " принадлежит группе dialout; пользователь в нее не входит (добавьте "
                          "его в группу dialout и войдите в систему заново).");
        }
    }
    EXPECT_EQ(DeviceGroupText(dir.Path() + "/gone"), "");
    // The settings dialog's refusal names the owner too, dialout only when
    // the device cannot be looked at.
    EXPECT_EQ(NoPermissionText(device),
              "Нет доступа к устройству " + device + ". " + DeviceGroupText(device));
    EXPECT_EQ(NoPermissionText(dir.Path() + "/gone"),
              "Нет доступа к устройству " + dir.Path() +
                  "/gone. Для работы с СОМ-портом пользователь должен входить в группу dialout.");
}

TEST(DeviceGroupText, NeverAdvisesJoiningRootsGroupAndTheDeviceListNamesTheOwner) {
    const std::string head = "Устройство /dev/ttyUSB0 принадлежит группе ";
    struct Row {
        TDeviceGroup group;
        std::string text;
    };
    const Row rows[] = {
        {{"uucp", 10, false},
         "uucp; пользователь в нее не входит (добавьте его в группу uucp и войдите в систему "
         "заново)."},
        {{"root", 0, false},
         "root; пользователь в нее не входит. Попросите администратора открыть доступ к "
         "устройству правилом udev (например, GROUP=\"dialout\", MODE=\"0660\")."},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DeviceGroupText("/dev/ttyUSB0", row.group), head + row.text);
    TTempDir dir;
    TSerialDevice device;
    device.Path = dir.Path() + "/ttyUSB0";
    device.Access = TDeviceAccess::NoPermission;
    WriteFile(device.Path, "");
    const group* own = getgrgid(getegid());
    ASSERT_TRUE(own);
    EXPECT_EQ(DeviceLabel(device), device.Path + " - нет доступа (группа " + own->gr_name +
                                       ", пользователь в нее входит)");
}

}  // namespace
