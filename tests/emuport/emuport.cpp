// emuport: mounts the emulated parallel ports at a folder and serves them
// until unmounted or until its parent dies (so a fixture killed outright
// leaves no server behind). Usage: emuport [--devices N] [--claim-wait MS] MOUNTDIR
#define FUSE_USE_VERSION 35
#include <errno.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <signal.h>
#include <fstream>
#include <sstream>
#include <string>

#include "device.h"
#include "emuport.h"

namespace {

enum FileKind { FILE_NONE, FILE_ROOT, FILE_DEVICE, FILE_CTL, FILE_WRITES };

constexpr uint64_t NOT_A_DEVICE = ~0ull;  // file handle of the ctl and writes files
constexpr unsigned LP_GID = 7;           // group of the device files, as Debian's lp
constexpr unsigned CTL_MODE = 0644;
constexpr unsigned WRITES_MODE = 0444;
constexpr unsigned ROOT_MODE = 0755;

bool EndsWith(const std::string& s, const char* suffix)
{
    size_t n = strlen(suffix);
    return s.size() > n && s.compare(s.size() - n, n, suffix) == 0;
}

FileKind Resolve(const char* path, int* device)
{
    std::string p = path;
    if (p == "/")
        return FILE_ROOT;
    if (p.size() < 2 || p[0] != '/' || p.find('/', 1) != std::string::npos)
        return FILE_NONE;
    std::string name = p.substr(1);
    FileKind kind = FILE_DEVICE;
    if (EndsWith(name, EMUPORT_CTL_SUFFIX)) {
        kind = FILE_CTL;
        name.resize(name.size() - strlen(EMUPORT_CTL_SUFFIX));
    } else if (EndsWith(name, EMUPORT_WRITES_SUFFIX)) {
        kind = FILE_WRITES;
        name.resize(name.size() - strlen(EMUPORT_WRITES_SUFFIX));
    }
    *device = FindDevice(name);
    if (*device < 0 || (kind == FILE_DEVICE && !DeviceVisible(*device)))
        return FILE_NONE;
    return kind;
}

// The caller of the current request, its supplementary groups read from
// /proc (FUSE passes only its uid and gid).
Caller CurrentCaller()
{
    fuse_context* who = fuse_get_context();
    Caller c{who->uid, who->gid, {}};
    std::ifstream status("/proc/" + std::to_string(who->pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "Groups:") != 0)
            continue;
        std::istringstream in(line.substr(7));
        unsigned g;
        while (in >> g)
            c.groups.push_back(g);
    }
    return c;
}

void* OnInit(fuse_conn_info*, fuse_config* cfg)
{
    cfg->entry_timeout = 0;  // faults change the folder at any moment: no caching
    cfg->negative_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->direct_io = 1;
    return nullptr;
}

int OnGetattr(const char* path, struct stat* st, fuse_file_info*)
{
    int device = -1;
    FileKind kind = Resolve(path, &device);
    memset(st, 0, sizeof *st);
    st->st_nlink = 1;
    switch (kind) {
    case FILE_ROOT: st->st_mode = S_IFDIR | ROOT_MODE; st->st_nlink = 2; return 0;
    case FILE_DEVICE: st->st_mode = S_IFREG | DeviceFileMode(device); st->st_gid = LP_GID; return 0;
    case FILE_CTL: st->st_mode = S_IFREG | CTL_MODE; st->st_size = DeviceStateText(device).size(); return 0;
    case FILE_WRITES: st->st_mode = S_IFREG | WRITES_MODE; st->st_size = RecordTextSize(device); return 0;
    default: return -ENOENT;
    }
}

int OnReaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    if (strcmp(path, "/") != 0)
        return -ENOTDIR;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags(0));
    for (int i = 0; i < DeviceCount(); i++) {
        if (DeviceVisible(i))
            fill(buf, Devices[i].name.c_str(), nullptr, 0, fuse_fill_dir_flags(0));
        fill(buf, (Devices[i].name + EMUPORT_CTL_SUFFIX).c_str(), nullptr, 0, fuse_fill_dir_flags(0));
        fill(buf, (Devices[i].name + EMUPORT_WRITES_SUFFIX).c_str(), nullptr, 0, fuse_fill_dir_flags(0));
    }
    return 0;
}

int OnOpen(const char* path, fuse_file_info* fi)
{
    int device = -1;
    FileKind kind = Resolve(path, &device);
    int access = fi->flags & O_ACCMODE;
    fi->direct_io = 1;
    fi->fh = NOT_A_DEVICE;
    if (kind == FILE_CTL || (kind == FILE_WRITES && access == O_RDONLY))
        return 0;
    if (kind == FILE_WRITES)
        return -EACCES;
    if (kind != FILE_DEVICE)
        return -ENOENT;
    int handle = OpenHandle(device, CurrentCaller(), access != O_WRONLY, access != O_RDONLY);
    if (handle < 0)
        return handle;
    fi->fh = static_cast<uint64_t>(handle);
    return 0;
}

int OnRelease(const char*, fuse_file_info* fi)
{
    if (fi->fh != NOT_A_DEVICE)
        CloseHandle(static_cast<int>(fi->fh));
    return 0;
}

int OnRead(const char* path, char* buf, size_t size, off_t offset, fuse_file_info*)
{
    int device = -1;
    FileKind kind = Resolve(path, &device);
    std::string text;
    if (kind == FILE_CTL) {
        text = DeviceStateText(device);
        text = offset < static_cast<off_t>(text.size()) ? text.substr(offset, size) : std::string();
    } else if (kind == FILE_WRITES) {
        text = RecordText(device, offset, size);
    } else if (kind != FILE_DEVICE) {
        return -ENOENT;
    }
    memcpy(buf, text.data(), text.size());
    return static_cast<int>(text.size());
}

int OnWrite(const char* path, const char* buf, size_t size, off_t, fuse_file_info*)
{
    int device = -1;
    if (Resolve(path, &device) != FILE_CTL)
        return -EINVAL;
    int error = ControlDevice(device, std::string(buf, size));
    return error ? error : static_cast<int>(size);
}

int OnTruncate(const char* path, off_t, fuse_file_info*)
{
    int device = -1;
    return Resolve(path, &device) == FILE_CTL ? 0 : -EINVAL;
}

int OnChmod(const char* path, mode_t mode, fuse_file_info*)
{
    int device = -1;
    if (Resolve(path, &device) != FILE_DEVICE)
        return -EPERM;
    SetFileMode(device, mode);
    return 0;
}

int OnAccess(const char* path, int mask)
{
    int device = -1;
    FileKind kind = Resolve(path, &device);
    if (kind == FILE_NONE)
        return -ENOENT;
    if (kind != FILE_DEVICE)
        return 0;
    return CheckAccess(device, CurrentCaller(), mask);
}

int OnIoctl(const char*, unsigned int cmd, void*, fuse_file_info* fi, unsigned int, void* data)
{
    if (fi->fh == NOT_A_DEVICE)
        return -ENOTTY;
    return HandleIoctl(static_cast<int>(fi->fh), cmd, data);
}

int Usage()
{
    fprintf(stderr, "usage: emuport [--devices N] [--claim-wait MS] MOUNTDIR\n");
    return 2;
}

bool ParseOption(const char* text, int low, int high, int* out)
{
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high)
        return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int devices = 1, claimWait = EMUPORT_DEFAULT_CLAIM_WAIT_MS;
    const char* mountDir = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--devices" && i + 1 < argc) {
            if (!ParseOption(argv[++i], 1, EMUPORT_MAX_DEVICES, &devices))
                return Usage();
        } else if (a == "--claim-wait" && i + 1 < argc) {
            if (!ParseOption(argv[++i], 0, EMUPORT_MAX_CLAIM_WAIT_MS, &claimWait))
                return Usage();
        } else if (!mountDir && a[0] != '-') {
            mountDir = argv[i];
        } else {
            return Usage();
        }
    }
    if (!mountDir)
        return Usage();
    InitDevices(devices, claimWait);
    ClaimInterrupted = [] { return fuse_interrupted() != 0; };
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    fuse_operations ops{};
    ops.init = OnInit;
    ops.getattr = OnGetattr;
    ops.readdir = OnReaddir;
    ops.open = OnOpen;
    ops.release = OnRelease;
    ops.read = OnRead;
    ops.write = OnWrite;
    ops.truncate = OnTruncate;
    ops.chmod = OnChmod;
    ops.access = OnAccess;
    ops.ioctl = OnIoctl;
    // Foreground, allow_other so that a second user's open reaches the mode
    // check, auto_unmount so that a dead server leaves no stale mount.
    char opts[] = "fsname=emuport,allow_other,auto_unmount";
    char fg[] = "-f", o[] = "-o";
    char* fuseArgv[] = {argv[0], fg, o, opts, const_cast<char*>(mountDir), nullptr};
    return fuse_main(5, fuseArgv, &ops, nullptr);
}
