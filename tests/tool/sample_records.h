// Records for the display tests and the golden files that show them.
#pragma once

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "template/resource_template.h"

namespace tooltest {

// Base block only; every optional block is filled too, so a mode bit that is
// wrongly honoured shows up in the output.
inline ResourceTemplate base_record(uint32_t mode)
{
    ResourceTemplate r{};
    r.mode = mode;
    r.HN = 3;
    r.PN = 15;
    r.VNP[0] = 8;
    r.VNP[15] = 255;
    r.QNP[1] = 1024;
    r.VQNP[2] = 7;
    r.QPNP[0] = 1048576;
    r.VQPNP[3] = 100;
    r.VCQNP[15] = 1;
    r.INP = 12;
    std::strcpy(r.MODENAME, "hidden");
    r.O1QVN[0] = 9;
    r.SM = 4;
    r.SMP[0] = 1;
    r.GAN = 1;
    r.GCN = 1;
    r.PCIDID = 0x1822;
    r.CBMP[0] = 1;
    r.CBMOP[0] = 1;
    r.OVNP[0] = 1;
    return r;
}

// Every block switched on, with the edge values of each format.
inline ResourceTemplate full_record()
{
    ResourceTemplate r = base_record(0x7F);
    std::strcpy(r.MODENAME, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");  // 31 characters
    r.PM = 0xBEEF;
    r.PH = 0x1234ABCD;
    r.GAN = 2;
    r.GCN = 5;
    r.SM = 16;
    for (uint16_t i = 0; i < PF_COUNT; ++i) {
        r.SMP[i] = i;
    }
    r.VCQNP[14] = 0xFFFFFFFF;  // a u32 entry prints as a signed int
    r.O1QVN[0] = 1;
    r.O2QVN[1] = 2;
    r.O4QVN[2] = 4;
    r.O8QVN[3] = 8;
    r.O16QVN[4] = 16;
    r.O32QVN[5] = 32;
    r.O64QVN[6] = 64;
    r.O128QVN[7] = 128;
    r.O256QVN[8] = 256;
    r.O256QVN[15] = 1024;
    r.CBMP[0] = 171;
    r.CBMP[15] = 1;
    r.CBMOP[0] = 0;
    r.CBMOP[1] = 255;
    r.OVNP[0] = 300;
    r.OVNP[2] = 15;
    return r;
}

inline std::string golden(const std::string &name)
{
    std::ifstream in(std::string(ZORVI_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace tooltest
