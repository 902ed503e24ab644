// Where the state file lives under Linux and what its folder and file must
// be, for both of its openers: the library under Wine (raw Linux calls) and
// native programs. Portable: the caller supplies the runtime folder, the
// user and what it found on the disk.
#ifndef STATEFILE_H
#define STATEFILE_H

#include <stddef.h>

constexpr unsigned PORTSTATE_DIR_MODE = 0700;   // the state's folder: the user's only
constexpr unsigned PORTSTATE_FILE_MODE = 0600;  // the state file: the user's only
constexpr unsigned PORTSTATE_MODE_BITS = 07777;
constexpr size_t PORTSTATE_PATH_MAX = 4096;
constexpr size_t PORTSTATE_ERROR_MAX = 512;  // room for any message below

// The state file's path: runtimeDir/travek/port-state.v2, or
// /dev/shm/travek-UID/port-state.v2 when runtimeDir is null or empty. Sets
// *folderLength to the length of its folder part. False, with the message
// in err, if the path would not fit in size bytes.
bool PortStateFilePath(const char* runtimeDir, unsigned uid, char* out, size_t size, size_t* folderLength,
                       char* err, size_t errSize);

// The refusal of a path that does not fit.
void PortStatePathTooLong(char* err, size_t errSize);

// What was found at a path of the state: its owner, its mode bits and
// whether it is a regular file.
struct PortStateFound {
    unsigned owner;
    unsigned mode;  // the st_mode bits under PORTSTATE_MODE_BITS
    bool regular;
};

// True if the folder (regular false) or the file (regular true) at path is
// as the bridge requires: a regular file where a file is meant, owned by
// uid, with exactly `mode`. Otherwise false, with the refusal in err.
bool PortStateOwnerOk(const char* path, const PortStateFound& found, bool regular, unsigned uid, unsigned mode,
                      char* err, size_t errSize);

#endif
