// pstdump FILE: prints the nodes of a PST with their property contexts and table columns, for
// looking at what a writer (ours or Outlook) produced.
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/ltp/tc.h"
#include "mailstore/pst/ndb/reader.h"

#include <cstdio>
#include <iostream>

using namespace mbx::pst;

namespace {
void hex(const Bytes& b, std::size_t max = 48) {
    for (std::size_t i = 0; i < b.size() && i < max; ++i)
        std::printf("%02x", b[i]);
    if (b.size() > max)
        std::printf("...(%zu)", b.size());
}

void dumpData(const NdbReader& f, Bid data, const std::map<Nid, SubnodeEntry>& subs, int indent) {
    if (data == 0)
        return;
    std::vector<Bytes> blocks;
    try {
        blocks = f.readStreamBlocks(data);
    } catch (const PstError& e) {
        std::printf("%*s! %s\n", indent, "", e.what());
        return;
    }
    if (blocks.empty() || blocks[0].size() < 4 || blocks[0][2] != 0xEC) {
        std::printf("%*sraw ", indent, "");
        hex(blocks.empty() ? Bytes{} : blocks[0]);
        std::printf("\n");
        return;
    }
    try {
        if (blocks[0][3] == 0xBC) {
            auto pc = readPropertyContext(f, data, subs);
            for (const auto& [tag, v] : pc.props) {
                std::printf("%*s%08x = ", indent, "", tag);
                hex(v);
                std::printf("\n");
            }
        } else if (blocks[0][3] == 0x7C) {
            auto tc = readTableContext(f, data, subs);
            std::printf("%*sTC rgib %u %u %u %u, %zu rows\n", indent, "", tc.rgib[0], tc.rgib[1],
                        tc.rgib[2], tc.rgib[3], tc.rows.size());
            for (const auto& c : tc.columns)
                std::printf("%*s  col %08x ib %u cb %u bit %u\n", indent, "", c.tag, c.ib, c.cb,
                            c.iBit);
            for (std::size_t r = 0; r < tc.rows.size() && r < 5; ++r) {
                std::printf("%*s  row %zu:", indent, "", r);
                for (const auto& [tag, v] : tc.rows[r]) {
                    std::printf(" %08x=", tag);
                    hex(v, 16);
                }
                std::printf("\n");
            }
        } else {
            std::printf("%*sheap sig %02x\n", indent, "", blocks[0][3]);
        }
    } catch (const PstError& e) {
        std::printf("%*s! %s\n", indent, "", e.what());
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pstdump FILE\n";
        return 2;
    }
    try {
        NdbReader f(argv[1]);
        const Header& h = f.header();
        std::printf("wVer %u crypt %u nextB %llx nextP %llx eof %llx\n", h.version, h.cryptMethod,
                    static_cast<unsigned long long>(h.nextBlockBid),
                    static_cast<unsigned long long>(h.nextPageBid),
                    static_cast<unsigned long long>(h.fileEof));
        for (const auto& n : f.nodes()) {
            const Nid nid = n.nid;
            std::printf("node %x parent %x data %llx sub %llx\n", nid, n.parent,
                        static_cast<unsigned long long>(n.data),
                        static_cast<unsigned long long>(n.sub));
            const auto subs = f.readSubnodes(n.sub);
            dumpData(f, n.data, subs, 2);
            for (const auto& [snid, s] : subs) {
                std::printf("  subnode %x data %llx sub %llx\n", snid,
                            static_cast<unsigned long long>(s.data),
                            static_cast<unsigned long long>(s.sub));
                dumpData(f, s.data, f.readSubnodes(s.sub), 4);
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
