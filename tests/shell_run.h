#pragma once
// Runs a shell command line for the command-line tool's tests: its standard output and
// its exit status (-1 when it did not exit normally).
#include <cstdio>
#include <string>

#include <sys/wait.h>

struct ShellRun {
    int exitCode = -1;
    std::string out;
};

inline ShellRun RunShell(const std::string& commandLine) {
    ShellRun run;
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe)
        return run;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        run.out.append(buf, n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
