// Facts about the host and the program's modules, for the window caption and the log.
#pragma once

#include <cstdint>
#include <string>

namespace kva {

// The computer's name (the host name); empty if the system call fails.
std::string GetComputerName();

// A module: 0 for the program itself, otherwise a handle returned by dlopen.
using TModuleHandle = uintptr_t;

// The file version a module carries (embedded at build time by kva_embed_version).
// False, with all four numbers 0, when the module has no version record.
bool GetModuleVersion(TModuleHandle AModule, int& AMajor, int& AMinor, int& ARelease, int& ABuild);

}  // namespace kva
