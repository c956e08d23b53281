#pragma once

namespace marrowdale {

// The program: one application, one window over one context, for as long as the window is open.
class CleanerApp {
public:
    // Runs the program and gives its exit status. A start that finds the program already running
    // in the desktop session hands its arguments over and ends with 0.
    static int main(int argc, char** argv);
};

} // namespace marrowdale
