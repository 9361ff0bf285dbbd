// main.cpp - the utiltool executable: everything else is in the commands.
#include "Command.h"

int main(int argc, char** argv) { return UtilTool::main(std::vector<std::string>(argv + 1, argv + argc)); }
