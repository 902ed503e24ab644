// See notify.h.
#include "notify.h"
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include "portfaults.h"

constexpr size_t BODY_MAX = PORTSTATE_TEXT * 3;
constexpr char EXPIRE_MS[] = "15000";

bool GVariantString(const char* text, char* out, size_t size)
{
    size_t n = 0;
    if (size < 3)
        return false;
    out[n++] = '\'';
    for (const char* p = text; *p; ++p) {
        if (n + 4 >= size)
            return false;
        if (*p == '\\' || *p == '\'')
            out[n++] = '\\';
        out[n++] = *p;
    }
    out[n++] = '\'';
    out[n] = '\0';
    return true;
}

// A session bus to reach: named by the variable, or the usual socket.
static bool SessionBus()
{
    const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    char path[PATH_MAX];
    struct stat st;
    return runtime && *runtime && snprintf(path, sizeof path, "%s/bus", runtime) < static_cast<int>(sizeof path) &&
           stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

// The program's path in PATH, in out; false if it is in none of its folders.
static bool FindTool(const char* name, char* out, size_t size)
{
    const char* path = getenv("PATH");
    while (path && *path) {
        const char* colon = strchr(path, ':');
        size_t len = colon ? static_cast<size_t>(colon - path) : strlen(path);
        if (len > 0 && snprintf(out, size, "%.*s/%s", static_cast<int>(len), path, name) < static_cast<int>(size) &&
            access(out, X_OK) == 0)
            return true;
        path = colon ? colon + 1 : nullptr;
    }
    return false;
}

// Runs argv in a grandchild of its own session, stdio on /dev/null: the
// child ends at once and is reaped here, the grandchild is nobody's to wait for.
static void SpawnDetached(char* const argv[])
{
    pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        if (fork() == 0) {
            setsid();
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            execv(argv[0], argv);
        }
        _exit(0);
    }
    waitpid(child, nullptr, 0);
}

void NotifyDesktop(PortFaultCode code, const char* text)
{
    char tool[PATH_MAX], body[BODY_MAX];
    if (!SessionBus())
        return;
    const char* advice = PortFaultAdvice(code);
    snprintf(body, sizeof body, "%s%s%s", text, *advice ? "\n" : "", advice);
    if (FindTool("notify-send", tool, sizeof tool)) {
        char app[] = "--app-name=Travek", icon[] = "--icon=dialog-warning";
        char summary[sizeof NOTIFY_SUMMARY];
        memcpy(summary, NOTIFY_SUMMARY, sizeof summary);
        char* argv[] = { tool, app, icon, summary, body, nullptr };
        SpawnDetached(argv);
        return;
    }
    char quotedSummary[BODY_MAX], quotedBody[BODY_MAX * 2];
    if (!FindTool("gdbus", tool, sizeof tool) || !GVariantString(NOTIFY_SUMMARY, quotedSummary, sizeof quotedSummary) ||
        !GVariantString(body, quotedBody, sizeof quotedBody))
        return;
    char a0[] = "call", a1[] = "--session", a2[] = "--dest", a3[] = "org.freedesktop.Notifications",
         a4[] = "--object-path", a5[] = "/org/freedesktop/Notifications", a6[] = "--method",
         a7[] = "org.freedesktop.Notifications.Notify", app[] = "'Travek'", id[] = "0", icon[] = "'dialog-warning'",
         actions[] = "@as []", hints[] = "@a{sv} {}", expire[sizeof EXPIRE_MS];
    memcpy(expire, EXPIRE_MS, sizeof expire);
    char* argv[] = { tool, a0, a1, a2, a3, a4, a5, a6, a7, app, id, icon, quotedSummary, quotedBody,
                     actions, hints, expire, nullptr };
    SpawnDetached(argv);
}
