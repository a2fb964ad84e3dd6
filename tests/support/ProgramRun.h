#pragma once

#include <set>
#include <string>

// The real program, started as a user starts it and watched from inside by
// the window probe (tests/support/WindowProbe.cpp), which closes its window
// once it is shown.
struct TProgramStart {
    std::string program;
    // Where the probe's plugin folder is (holding generic/).
    std::string probePlugins;
    // A folder for the probe's reports.
    std::string workDir;
    // XDG_DATA_HOME and HOME for the program; left as they are when empty.
    std::string dataHome;
    std::string home;
    // The system to choose, and whether to tick the first game of its list.
    std::string choose;
    bool tick = false;
    // The Qt platform, and the X display for xcb.
    std::string platform = "offscreen";
    std::string display;
    // Run by the probe with the window's id, its output in `status`.
    std::string command;
    // The button to answer message boxes with, instead of the default one.
    std::string answer;
    // As a user whose permissions are obeyed: when the tests run as root,
    // as nobody, who must be able to reach the program and the workDir.
    bool unprivileged = false;
};

struct TProgramRun {
    bool finished = false;
    int exitCode = -1;
    std::string output; // standard output and error
    std::string title;
    std::multiset<std::string> entries; // of the system selector
    std::string messages; // each message box's text, then a line "--"
    std::string status; // after choosing, with a newline
};

TProgramRun RunProgram(const TProgramStart &start);

// Makes `folder` (with its parents) and gives it to the user an unprivileged
// run runs as; returns it.
std::string UnprivilegedUsersFolder(const std::string &folder);

// What a run showed, for the message of an assertion about it.
std::string Describe(const TProgramRun &run);
