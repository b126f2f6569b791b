#include "tests/e2e/key_presses.h"

#include "tests/support/unix_command.h"

bool Xdotool(const std::string& arguments) { return RunUnixCommand("xdotool " + arguments); }

bool PressKeys(const std::string& keys) { return Xdotool("key --delay 30 " + keys); }

bool TypeText(const std::string& text) { return Xdotool("type --delay 20 '" + text + "'"); }

bool ClickAt(POINT screen) {
    return Xdotool("mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y) + " click 1");
}
