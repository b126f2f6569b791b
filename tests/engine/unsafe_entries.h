// Manifest entries that would leave the destination folder, or open a device
// instead of a file: the install run refuses every one.
#pragma once

inline constexpr const char* kUnsafeEntries[] = {
    "\\Windows\\evil.dll", "/etc/evil", "\\\\server\\share\\evil.dll",
    "C:\\Windows\\evil.dll", "C:evil.dll", "Pelmar.exe:stream", "Data:",
    "..\\evil.dll", "../evil.dll", "Data\\..\\..\\evil.dll", "Data/../../evil.dll", "Data\\..", "..",
    ".. \\evil.dll", "Data\\...\\evil.dll",
    "CON", "con.txt", "Data\\Nul", "aux\\evil.dll", "PRN.ini", "COM1", "com9.log", "Data\\LPT1", "lpt9.dat.txt",
    "CON .txt",
};
