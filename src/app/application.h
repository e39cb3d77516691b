#pragma once
// The application: reads the command line, creates the program's one device link, reads
// the settings, runs the main window modally, and writes the settings when it closes.
// With --simulate it first starts a simulated dosimeter at the far end of an in-process
// pair of pseudo-terminals, reached over the program's own IrDA stack (or, with
// --simulate-link tcp, on a free local port), with a received-files folder of its own
// that is removed at the end.
#include <string>
#include <vector>

class Application {
public:
    // args without the program name; returns the exit status.
    int run(const std::vector<std::string>& args);
};
