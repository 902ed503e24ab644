// Opening things that are not a usable parallel port, the words of each
// fault, and the state file's owner and mode checks.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include "portnative.h"
#include "ppdev.h"

namespace {

std::string TempFolder()
{
    char tmpl[] = "/tmp/travek-helper-test-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    return dir ? dir : "";
}

TEST(PpdevOpen, MissingFileOrdinaryFileAndFolderEachSayWhy)
{
    std::string dir = TempFolder();
    ASSERT_FALSE(dir.empty());
    PpdevFault f;
    EXPECT_EQ(PpdevOpen((dir + "/parport9").c_str(), &f, nullptr, nullptr), -1);
    EXPECT_EQ(f.code, PORT_FAULT_NO_DEVICE);
    EXPECT_NE(strstr(f.text, "introuvable"), nullptr) << f.text;

    std::string file = dir + "/not-a-port";
    FILE* fp = fopen(file.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    fclose(fp);
    EXPECT_EQ(PpdevOpen(file.c_str(), &f, nullptr, nullptr), -1);  // answers no ioctl: ENOTTY
    EXPECT_EQ(f.code, PORT_FAULT_NOT_PARPORT);
    EXPECT_NE(strstr(f.text, "USB"), nullptr) << f.text;
    EXPECT_NE(strstr(f.text, file.c_str()), nullptr) << f.text;

    EXPECT_EQ(PpdevOpen(dir.c_str(), &f, nullptr, nullptr), -1);  // a folder cannot be opened for writing
    EXPECT_NE(f.code, PORT_FAULT_NONE);
    unlink(file.c_str());
    rmdir(dir.c_str());
}

TEST(PpdevClassify, EachErrnoMeansItsFaultAtItsStep)
{
    struct Case { PpdevStep step; int err; PortFaultCode code; const char* words; };
    const Case cases[] = {
        { PPDEV_STEP_OPEN, EACCES, PORT_FAULT_PERMISSION, "groupe lp" },
        { PPDEV_STEP_OPEN, EPERM, PORT_FAULT_PERMISSION, "reconnectez-vous" },
        { PPDEV_STEP_OPEN, ENXIO, PORT_FAULT_NO_DEVICE, "introuvable" },
        { PPDEV_STEP_OPEN, ENODEV, PORT_FAULT_NO_DEVICE, "introuvable" },
        { PPDEV_STEP_CLAIM, EINTR, PORT_FAULT_BUSY, "2 s" },
        { PPDEV_STEP_CLAIM, EBUSY, PORT_FAULT_BUSY, "autre programme" },
        { PPDEV_STEP_CLAIM, ENOTTY, PORT_FAULT_NOT_PARPORT, "USB" },
        { PPDEV_STEP_CLAIM, ENXIO, PORT_FAULT_NO_DEVICE, "aucun port" },  // a node with no port behind it
        { PPDEV_STEP_WAIT, 0, PORT_FAULT_BUSY, "reprise" },
        { PPDEV_STEP_SESSION, EIO, PORT_FAULT_DEVICE_LOST, "EIO" },
        { PPDEV_STEP_SESSION, ENODEV, PORT_FAULT_DEVICE_LOST, "disparu" },
        { PPDEV_STEP_SESSION, ENOTCONN, PORT_FAULT_DEVICE_LOST, "ENOTCONN" },
        { PPDEV_STEP_SESSION, ENOTTY, PORT_FAULT_DEVICE_LOST, "en cours de session" },
    };
    for (const Case& c : cases) {
        PpdevFault f;
        PpdevClassify("/dev/parport0", c.step, c.err, &f);
        EXPECT_EQ(f.code, c.code) << c.err;
        EXPECT_NE(strstr(f.text, c.words), nullptr) << f.text;
        EXPECT_NE(strstr(f.text, "/dev/parport0"), nullptr) << f.text;
    }
    // A path as long as the field still leaves a terminated message.
    std::string longPath(PPDEV_MESSAGE_MAX * 2, 'x');
    PpdevFault f;
    PpdevClassify(longPath.c_str(), PPDEV_STEP_OPEN, EACCES, &f);
    EXPECT_LT(strlen(f.text), sizeof f.text);
}

TEST(StateFileChecks, FilesOrFoldersOpenToOthersAreRefused)
{
    std::string dir = TempFolder();
    ASSERT_FALSE(dir.empty());
    std::string path = dir + "/" + PORTSTATE_FILE;
    char err[PORTSTATE_ERROR_MAX];
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    PortState* s = PortStateMapNative(path.c_str(), true, err, sizeof err);
    ASSERT_NE(s, nullptr) << err;
    PortStateUnmapNative(s);

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_EQ(PortStateMapNative(path.c_str(), false, err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "refusé"), nullptr) << err;
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);

    ASSERT_EQ(chmod(dir.c_str(), 0770), 0);
    EXPECT_EQ(PortStateMapNative(path.c_str(), false, err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "770"), nullptr) << err;
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);

    s = PortStateMapNative(path.c_str(), false, err, sizeof err);
    EXPECT_NE(s, nullptr) << err;
    if (s)
        PortStateUnmapNative(s);
    unlink(path.c_str());
    rmdir(dir.c_str());
}

}  // namespace
