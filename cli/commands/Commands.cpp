#include "commands/Commands.h"

namespace cli {

std::vector<std::shared_ptr<Command>> MakeCommands()
{
    return { MakeVersion(), MakeAddresses(), MakeSetAddresses(), MakeMac(), MakeSetMac(),
             MakeFlash(),   MakeInventory(), MakeApply(),        MakeScan() };
}

} // namespace cli
