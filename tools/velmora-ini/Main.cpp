// The velmora-ini executable: hands its command line to RunIniTool and exits with its code.
// All behaviour lives in IniCommands.cpp so that it reads the same in every build.
#include <iostream>

#include "IniTool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return velmora::RunIniTool(args, std::cout, std::cerr);
}
