// See statefile.h.
#include "statefile.h"
#include <stdio.h>
#include "portstate.h"

void PortStatePathTooLong(char* err, size_t errSize)
{
    snprintf(err, errSize, "chemin du fichier d'état trop long (XDG_RUNTIME_DIR)");
}

bool PortStateFilePath(const char* runtimeDir, unsigned uid, char* out, size_t size, size_t* folderLength,
                       char* err, size_t errSize)
{
    int folder;
    if (runtimeDir && *runtimeDir)
        folder = snprintf(out, size, "%s/%s", runtimeDir, PORTSTATE_DIR);
    else
        folder = snprintf(out, size, "/dev/shm/%s-%u", PORTSTATE_DIR, uid);
    int n = folder < 0 || static_cast<size_t>(folder) >= size
                ? -1
                : snprintf(out + folder, size - static_cast<size_t>(folder), "/%s", PORTSTATE_FILE);
    if (n < 0 || static_cast<size_t>(folder + n) >= size) {
        PortStatePathTooLong(err, errSize);
        return false;
    }
    *folderLength = static_cast<size_t>(folder);
    return true;
}

bool PortStateOwnerOk(const char* path, const PortStateFound& found, bool regular, unsigned uid, unsigned mode,
                      char* err, size_t errSize)
{
    if (regular && !found.regular) {
        snprintf(err, errSize, "%s n'est pas un fichier ordinaire : refusé", path);
        return false;
    }
    if (found.owner != uid) {
        snprintf(err, errSize, "%s appartient à l'utilisateur %u, pas à vous (%u) : refusé", path, found.owner, uid);
        return false;
    }
    if ((found.mode & PORTSTATE_MODE_BITS) != mode) {
        snprintf(err, errSize, "%s a les droits %03o au lieu de %03o : refusé", path,
                 found.mode & PORTSTATE_MODE_BITS, mode);
        return false;
    }
    return true;
}
