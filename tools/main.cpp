#include <iostream>
#include <string>
#include <vector>

#include "tools/FwTool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return zav::fwtool::Run(args, std::cout, std::cerr);
}
