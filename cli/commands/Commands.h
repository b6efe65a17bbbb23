#pragma once

#include "commands/Command.h"

#include <memory>
#include <vector>

namespace cli {

// Every command, made afresh, in the order --help and the documents list them.
std::vector<std::shared_ptr<Command>> MakeCommands();

// Read.cpp
std::shared_ptr<Command> MakeVersion();
std::shared_ptr<Command> MakeAddresses();
std::shared_ptr<Command> MakeMac();
// Set.cpp
std::shared_ptr<Command> MakeSetAddresses();
std::shared_ptr<Command> MakeSetMac();
// Flash.cpp
std::shared_ptr<Command> MakeFlash();
// Inventory.cpp
std::shared_ptr<Command> MakeInventory();
// Apply.cpp
std::shared_ptr<Command> MakeApply();
// Scan.cpp
std::shared_ptr<Command> MakeScan();

} // namespace cli
