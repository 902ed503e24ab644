// Where the shared state lives for a Windows process: a named section on
// Windows, the state file under Wine (made owner-only with raw Linux calls,
// then mapped through its DOS path). See sharedport.h.
#include "sharedport.h"
#include "statefile.h"
#include "unixcall.h"
#include "wineproc.h"
#include <stdio.h>
#include <stdlib.h>

constexpr int UNIX_O_DIRECTORY = 0200000;
constexpr DWORD INIT_LOCK_MS = 2000;
constexpr int PATH_BYTES = 1024;
constexpr int ERROR_BYTES = 512;

static PortState* g_state;        // the mapped state of this process
static HANDLE g_initMutex;           // Windows: serialises creation and re-initialisation
static long g_lockFd = -1;           // Wine: the state file, flocked for the same
static int g_clientSlot = -1;        // this process's client slot
static PortState g_privateState;  // fallback when no shared state can be had
static char g_filePath[PATH_BYTES];  // Wine: the state file's Linux path
static char g_error[ERROR_BYTES];    // why the shared state could not be had

static int64_t Frequency()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

static void Lock()
{
    if (g_lockFd >= 0)
        UnixFlock(g_lockFd, UNIX_LOCK_EX);
    else if (g_initMutex)
        WaitForSingleObject(g_initMutex, INIT_LOCK_MS);
}

static void Unlock()
{
    if (g_lockFd >= 0)
        UnixFlock(g_lockFd, UNIX_LOCK_UN);
    else if (g_initMutex)
        ReleaseMutex(g_initMutex);
}

// The folder and file of the state under Wine, in g_filePath; the folder's
// length is returned (0 with g_error if the path does not fit).
static size_t StatePath()
{
    wchar_t xdg[PATH_BYTES / 2];
    DWORD n = GetEnvironmentVariableW(L"XDG_RUNTIME_DIR", xdg, PATH_BYTES / 2);
    char runtimeDir[PATH_BYTES] = "";  // empty when unset or too long for xdg: the fallback folder
    if (n > 0 && n < PATH_BYTES / 2 &&
        !WideCharToMultiByte(CP_UTF8, 0, xdg, -1, runtimeDir, sizeof runtimeDir, nullptr, nullptr)) {
        PortStatePathTooLong(g_error, sizeof g_error);
        return 0;
    }
    size_t folder = 0;
    bool ok = PortStateFilePath(runtimeDir, static_cast<unsigned>(UnixGetUid()), g_filePath, sizeof g_filePath,
                                &folder, g_error, sizeof g_error);
    return ok ? folder : 0;
}

// Owner and modes of an open file or folder, as the bridge requires.
static bool CheckOwner(long fd, const char* path, unsigned mode, bool regular)
{
    UnixFileInfo info;
    long r = UnixFstat(fd, &info);
    if (r < 0) {
        snprintf(g_error, sizeof g_error, "%s : fstat a échoué (errno %ld)", path, -r);
        return false;
    }
    PortStateFound found = { info.uid, info.mode, (info.mode & UNIX_S_IFMT) == UNIX_S_IFREG };
    return PortStateOwnerOk(path, found, regular, static_cast<unsigned>(UnixGetUid()), mode, g_error,
                            sizeof g_error);
}

static bool PrepareFolder(size_t dirLength)
{
    char dir[PATH_BYTES];
    CopyMemory(dir, g_filePath, dirLength);
    dir[dirLength] = '\0';
    long r = UnixMkdir(dir, PORTSTATE_DIR_MODE);
    if (r < 0 && r != -UNIX_EEXIST) {
        snprintf(g_error, sizeof g_error, "impossible de créer %s (errno %ld)", dir, -r);
        return false;
    }
    long fd = UnixOpen(dir, UNIX_O_DIRECTORY | UNIX_O_CLOEXEC | UNIX_O_NOFOLLOW, 0);
    if (fd < 0) {
        snprintf(g_error, sizeof g_error, "%s : ouverture impossible (errno %ld)", dir, -fd);
        return false;
    }
    bool ok = CheckOwner(fd, dir, PORTSTATE_DIR_MODE, false);
    UnixClose(fd);
    return ok;
}

// Opens the state file owner-only with its full size; -1 with g_error if not.
static long OpenStateFile()
{
    long fd = UnixOpen(g_filePath, UNIX_O_RDWR | UNIX_O_CREAT | UNIX_O_NOFOLLOW | UNIX_O_CLOEXEC,
                       PORTSTATE_FILE_MODE);
    if (fd < 0) {
        snprintf(g_error, sizeof g_error, "%s : ouverture impossible (errno %ld)", g_filePath, -fd);
        return -1;
    }
    if (!CheckOwner(fd, g_filePath, PORTSTATE_FILE_MODE, true)) {
        UnixClose(fd);
        return -1;
    }
    UnixFileInfo info;
    UnixFlock(fd, UNIX_LOCK_EX);
    if (UnixFstat(fd, &info) == 0 && info.size < static_cast<int64_t>(sizeof(PortState)))
        UnixFtruncate(fd, sizeof(PortState));
    UnixFlock(fd, UNIX_LOCK_UN);
    return fd;
}

// Maps the state file through its DOS path; the view must be the file
// checked as `fd` (a file swapped in between is refused).
static PortState* MapStateFile(long fd)
{
    wchar_t unixPath[PATH_BYTES];
    if (!MultiByteToWideChar(CP_UTF8, 0, g_filePath, -1, unixPath, PATH_BYTES))
        return nullptr;
    wchar_t dosPath[PATH_BYTES + 2] = L"Z:";
    lstrcatW(dosPath, unixPath);
    for (wchar_t* p = dosPath; *p; ++p)
        if (*p == L'/')
            *p = L'\\';
    HANDLE file = CreateFileW(dosPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        snprintf(g_error, sizeof g_error, "%s : ouverture Windows impossible (erreur %lu)", g_filePath,
                 GetLastError());
        return nullptr;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, sizeof(PortState), nullptr);
    CloseHandle(file);
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(PortState)) : nullptr;
    if (!view) {
        snprintf(g_error, sizeof g_error, "%s : projection impossible (erreur %lu)", g_filePath, GetLastError());
        return nullptr;
    }
    if (!WineViewIsFile(view, fd)) {
        snprintf(g_error, sizeof g_error, "%s a changé entre sa vérification et sa projection : refusé",
                 g_filePath);
        UnmapViewOfFile(view);
        CloseHandle(mapping);
        return nullptr;
    }
    return static_cast<PortState*>(view);  // the mapping handle stays open for the process
}

static bool WineHelperIs(int32_t pid, uint32_t identity)
{
    return WineProcessIs(pid, identity);
}

// True while slot i's process lives: same pid and same identity (a reused
// pid or a zombie does not count).
static bool ClientLives(PortState* s, int i)
{
    int32_t pid = AtomicLoad(&s->clients[i].unixPid);
    return pid > 0 && WineProcessIs(pid, AtomicLoad(&s->clientStart[i]));
}

// True if some client slot holds a live process; frees the slots of dead ones.
static bool SweepClients(PortState* s)
{
    bool live = false;
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i) {
        if (AtomicLoad(&s->clients[i].unixPid) <= 0)
            continue;
        if (ClientLives(s, i))
            live = true;
        else
            PortStateFreeClient(s, i);
    }
    return live;
}

// A helper process lives and beats. Judged without trusting the header: a
// state corrupt under a live helper must not be cleared under it.
static bool HelperBeats(PortState* s)
{
    PortHelperJudge judge = { Frequency(), HELPER_LOST_MS, false, false, UnderWine() ? WineHelperIs : nullptr };
    return PortHelperAlive(s, SharedPortNow(), judge);
}

static PortState* AttachWineFile()
{
    size_t dirLength = StatePath();
    if (dirLength == 0)
        return nullptr;
    if (!PrepareFolder(dirLength))
        return nullptr;
    long fd = OpenStateFile();
    if (fd < 0)
        return nullptr;
    PortState* s = MapStateFile(fd);
    if (!s) {
        UnixClose(fd);
        return nullptr;
    }
    g_lockFd = fd;  // kept open: its flock serialises initialisation
    Lock();
    // A session whose every user has gone starts clean, as a named section
    // vanishes with its last user; one in use is only repaired if need be.
    bool helper = HelperBeats(s);
    bool live = SweepClients(s) || helper;
    if (!live)
        PortStateInit(s, Frequency(), 0);
    else
        PortStateRepair(s, Frequency(), helper);
    long pid = UnixGetPid();
    g_clientSlot = PortStateTakeClient(s, static_cast<int32_t>(pid), static_cast<int32_t>(GetCurrentProcessId()),
                                       SharedPortNow(), WineProcessIdentity(pid));
    Unlock();
    return s;
}

static PortState* AttachSection()
{
    g_initMutex = CreateMutexW(nullptr, FALSE, SHAREDPORT_MUTEX_NAME);
    Lock();
    PortState* s = nullptr;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(PortState), SHAREDPORT_MAPPING_NAME);
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mapping)
        s = static_cast<PortState*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (s && !existed)
        PortStateInit(s, Frequency(), 0);
    else if (s)
        PortStateRepair(s, Frequency(), false);
    if (s)
        g_clientSlot = PortStateTakeClient(s, 0, static_cast<int32_t>(GetCurrentProcessId()), SharedPortNow());
    else
        snprintf(g_error, sizeof g_error, "mémoire partagée du port indisponible (erreur %lu)", GetLastError());
    Unlock();
    return s;
}

static void FreeClientSlot()
{
    if (g_state && g_state != &g_privateState)
        PortStateFreeClient(g_state, g_clientSlot);
}

PortState* SharedPortAttach()
{
    if (g_state)
        return g_state;
    PortState* s = UnderWine() ? AttachWineFile() : AttachSection();
    if (!s) {
        g_lockFd = -1;
        s = &g_privateState;
        PortStateInit(s, Frequency(), 0);
    }
    g_state = s;
    atexit(FreeClientSlot);
    return s;
}

const char* SharedPortAttachError()
{
    SharedPortAttach();
    return g_error[0] ? g_error : nullptr;
}

const char* SharedPortFilePath()
{
    return g_state && g_state != &g_privateState && g_filePath[0] ? g_filePath : nullptr;
}

bool SharedPortExists()
{
    if (!UnderWine()) {
        HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, SHAREDPORT_MAPPING_NAME);
        if (h)
            CloseHandle(h);
        return h != nullptr;
    }
    // Under Wine the file outlives its users: it exists for this session if
    // some other live process holds a client slot.
    PortState* s = SharedPortAttach();
    if (s == &g_privateState)
        return false;
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i)
        if (i != g_clientSlot && ClientLives(s, i))
            return true;
    return false;
}

int SharedPortClientSlot()
{
    SharedPortAttach();
    return g_clientSlot;
}

bool SharedPortHelperServes(PortState* s)
{
    return HelperBeats(s);
}

bool SharedPortValidate(PortState* s)
{
    if (PortStateValid(s))
        return true;
    Lock();
    PortStateRepair(s, Frequency(), HelperBeats(s));
    Unlock();
    return false;
}
