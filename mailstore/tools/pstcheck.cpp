// pstcheck FILE: structural check of a PST file. Exit 0 when it is sound, 1 with the list of
// faults otherwise, 2 on a usage error.
#include "mailstore/pst/check.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pstcheck FILE\n";
        return 2;
    }
    const auto report = mbx::pst::checkFile(argv[1]);
    if (report.ok()) {
        std::cout << argv[1] << ": OK (" << report.nodes << " nodes, " << report.blocks
                  << " blocks)\n";
        return 0;
    }
    std::cout << argv[1] << ": " << report.faults.size() << " fault(s)\n";
    for (const auto& f : report.faults)
        std::cout << "  " << f << "\n";
    return 1;
}
