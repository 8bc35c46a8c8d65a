// The shell's "open": starting a program file, or handing anything else (a document, a web
// address) to the desktop's opener.
#pragma once

#include <functional>
#include <string>

// Opens file with verb ("open"). A program file (an executable image, a script with "#!", or a
// name ending in ".exe") is made executable for its owner and started detached, as a process of
// its own; anything else goes to xdg-open. The result is not reported: the caller ignores it.
void ShellExecute(const std::string& verb, const std::string& file);

// Replaces what ShellExecute does (tests watch requests without starting anything); an empty
// function restores the real behaviour.
void SetShellExecuteHook(
    std::function<void(const std::string& verb, const std::string& file)> hook);
