// See childrun.h.
#include "childrun.h"
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>

bool StartChild(ChildRun* c, const std::string& path, const std::vector<std::string>& args)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return false;
    c->pid = fork();
    if (c->pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv{ const_cast<char*>(path.c_str()) };
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    c->out = out[0];
    c->err = err[0];
    return c->pid > 0;
}

// Moves what is there to read into the texts; false once both pipes are closed.
static bool Drain(ChildRun* c, int waitMs)
{
    pollfd fds[2] = { { c->out, POLLIN, 0 }, { c->err, POLLIN, 0 } };
    if (c->out < 0 && c->err < 0)
        return false;
    poll(fds, 2, waitMs);
    int* ends[2] = { &c->out, &c->err };
    std::string* texts[2] = { &c->stdoutText, &c->stderrText };
    for (int i = 0; i < 2; ++i) {
        if (*ends[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
            continue;
        char buf[4096];
        ssize_t n = read(*ends[i], buf, sizeof buf);
        if (n > 0) {
            texts[i]->append(buf, static_cast<size_t>(n));
        } else {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return true;
}

bool FinishChild(ChildRun* c, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Drain(c, 10) && std::chrono::steady_clock::now() < end) {
    }
    int status = 0;
    bool ended = false;
    while (!(ended = waitpid(c->pid, &status, WNOHANG) == c->pid) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!ended) {
        kill(c->pid, SIGKILL);
        waitpid(c->pid, &status, 0);
        c->code = -1;
    } else {
        c->code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    for (int i = 0; i < 100 && Drain(c, 1); ++i) {
    }
    return ended;
}

int RunChild(const std::string& path, const std::vector<std::string>& args, std::string* out,
             std::string* err, int timeoutMs)
{
    ChildRun c;
    if (!StartChild(&c, path, args))
        return -1;
    FinishChild(&c, timeoutMs);
    *out = c.stdoutText;
    *err = c.stderrText;
    return c.code;
}
