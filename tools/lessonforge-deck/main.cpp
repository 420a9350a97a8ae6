#include "deck_tool.h"

#include <iostream>

int main(int argc, char** argv) {
    return lf::decktool::run(argc, argv, std::cout, std::cerr);
}
