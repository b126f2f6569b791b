// Runs a command of the Linux machine that Wine runs on, from a test under
// Wine: xdotool's key presses, openssl's signatures.
#pragma once

#include <string>

// Runs command through /bin/sh and waits up to 15 s for it; true when it
// exited with status 0.
bool RunUnixCommand(const std::string& command);

// The Unix path of a Windows path of plain ASCII, as Wine maps it ("Z:\tmp\x"
// is "/tmp/x").
std::string UnixPathOf(const std::string& windowsPath);
