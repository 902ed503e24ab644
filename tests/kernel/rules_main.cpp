// ppdev_rules: the conformance suite (see rules.h).
//   ppdev_rules --hook HOOK [--except CASE]... DEVICE [CASE ...]
// Runs the named cases (all by default, but those excepted); exits 0 when
// none failed.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "rules.h"
#include "rules_support.h"

constexpr int PIPE_CHUNK = 256;

int RunHook(const RulesTarget& t, const std::string& verb, std::string* out)
{
    std::string command = "'" + t.hook + "' " + verb;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    char chunk[PIPE_CHUNK];
    std::string text;
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0)
        text.append(chunk, n);
    int status = pclose(p);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a case in a child of its own under RULES_CASE_LIMIT_S; prints its line.
static bool RunCase(const RulesTarget& t, const RulesEntry& c)
{
    int pipes[2];
    if (pipe(pipes) != 0)
        return false;
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(pipes[0]);
        RulesOutcome o = c.run(t);
        std::string line = !o.skip.empty() ? "SKIP ppdev_" + std::string(c.name) + ": " + o.skip
                         : o.failure.empty() ? "PASS ppdev_" + std::string(c.name)
                                             : "FAIL ppdev_" + std::string(c.name) + ": " + o.failure;
        line += "\n";
        ssize_t w = write(pipes[1], line.data(), line.size());
        _exit(w == ssize_t(line.size()) ? 0 : 1);
    }
    close(pipes[1]);
    int64_t end = PortNativeMs() + RULES_CASE_LIMIT_S * 1000;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (PortNativeMs() > end) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        SleepMs(10);
    }
    char text[1024] = "";
    ssize_t n = read(pipes[0], text, sizeof text - 1);
    close(pipes[0]);
    if (n <= 0) {
        printf("FAIL ppdev_%s: no answer within %d s (the case hung or crashed)\n", c.name, RULES_CASE_LIMIT_S);
        return false;
    }
    text[n] = '\0';
    fputs(text, stdout);
    fflush(stdout);
    return strncmp(text, "FAIL", 4) != 0;
}

static bool Named(const char* name, char** names, int count)
{
    for (int i = 0; i < count; ++i)
        if (strcmp(names[i], name) == 0)
            return true;
    return false;
}

int main(int argc, char** argv)
{
    std::vector<char*> excepted;
    int a = 3;
    while (a + 1 < argc && strcmp(argv[a], "--except") == 0) {
        excepted.push_back(argv[a + 1]);
        a += 2;
    }
    if (argc <= a || strcmp(argv[1], "--hook") != 0) {
        fprintf(stderr, "usage: ppdev_rules --hook HOOK [--except CASE]... DEVICE [CASE ...]\n");
        return 2;
    }
    RulesTarget t{ argv[a], argv[2] };
    char** names = argv + a + 1;
    int count = argc - a - 1;
    bool ok = true;
    for (int i = 0; i < RULES_CASE_COUNT; ++i) {
        const char* name = RULES_CASES[i].name;
        if ((count == 0 || Named(name, names, count)) && !Named(name, excepted.data(), int(excepted.size())))
            ok = RunCase(t, RULES_CASES[i]) && ok;
    }
    return ok ? 0 : 1;
}
