#include "UnitMain.h"

int main(int argc, char **argv)
{
    return ProgramEntry(argc, argv);
}
