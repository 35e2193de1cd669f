// Kernel headers only: <termios.h> of the C library would clash with the
// kernel's struct termios, which is what the caller hands to ioctl.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <asm/termios.h>
#include <linux/lp.h>
#include <linux/ppdev.h>

#include "monitor/capture/ioctl_decode.h"

#include <cstdio>
#include <cstring>

namespace quillon::capture {

namespace {

struct Named {
    uint32_t command;
    const char* name;
};

// clang-format off
#define Q(x) {static_cast<uint32_t>(x), #x}
const Named kNames[] = {
    Q(TCGETS), Q(TCSETS), Q(TCSETSW), Q(TCSETSF), Q(TCGETS2), Q(TCSETS2), Q(TCSETSW2), Q(TCSETSF2),
    Q(TCGETA), Q(TCSETA), Q(TCSETAW), Q(TCSETAF), Q(TCSBRK), Q(TCSBRKP), Q(TIOCSBRK), Q(TIOCCBRK),
    Q(TCXONC), Q(TCFLSH), Q(TIOCEXCL), Q(TIOCNXCL), Q(TIOCSCTTY), Q(TIOCNOTTY), Q(TIOCGPGRP),
    Q(TIOCSPGRP), Q(TIOCOUTQ), Q(TIOCSTI), Q(TIOCGWINSZ), Q(TIOCSWINSZ), Q(TIOCMGET), Q(TIOCMBIS),
    Q(TIOCMBIC), Q(TIOCMSET), Q(TIOCGSOFTCAR), Q(TIOCSSOFTCAR), Q(FIONREAD), Q(TIOCCONS),
    Q(TIOCGSERIAL), Q(TIOCSSERIAL), Q(TIOCPKT), Q(FIONBIO), Q(TIOCSETD), Q(TIOCGETD), Q(TIOCGSID),
    Q(TIOCGRS485), Q(TIOCSRS485), Q(TIOCGPTN), Q(TIOCSPTLCK), Q(TIOCGLCKTRMIOS), Q(TIOCSLCKTRMIOS),
    Q(TIOCMIWAIT), Q(TIOCGICOUNT), Q(FIONCLEX), Q(FIOCLEX), Q(FIOASYNC), Q(TIOCSERGETLSR),
    Q(PPSETMODE), Q(PPRSTATUS), Q(PPRCONTROL), Q(PPWCONTROL), Q(PPFCONTROL), Q(PPRDATA), Q(PPWDATA),
    Q(PPCLAIM), Q(PPRELEASE), Q(PPYIELD), Q(PPEXCL), Q(PPDATADIR), Q(PPNEGOT), Q(PPWCTLONIRQ),
    Q(PPCLRIRQ), Q(PPSETPHASE), Q(PPGETMODES), Q(PPGETMODE), Q(PPGETPHASE), Q(PPGETFLAGS),
    Q(PPSETFLAGS), Q(LPCHAR), Q(LPTIME), Q(LPABORT), Q(LPSETIRQ), Q(LPGETIRQ), Q(LPWAIT),
    Q(LPCAREFUL), Q(LPABORTOPEN), Q(LPGETSTATUS), Q(LPRESET), Q(LPGETFLAGS),
};
#undef Q

const char* nameOf(uint32_t command)
{
    for (const Named& n : kNames)
        if (n.command == command) return n.name;
    return nullptr;
}

uint32_t u32At(std::span<const uint8_t> d, size_t off)
{
    uint32_t v = 0;
    if (d.size() >= off + 4) std::memcpy(&v, d.data() + off, 4);
    return v;
}

struct Speed {
    uint32_t code;
    uint32_t baud;
};
const Speed kSpeeds[] = {
    {B0, 0},           {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},       {B200, 200},         {B300, 300},         {B600, 600},         {B1200, 1200},
    {B1800, 1800},     {B2400, 2400},       {B4800, 4800},       {B9600, 9600},       {B19200, 19200},
    {B38400, 38400},   {B57600, 57600},     {B115200, 115200},   {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};
// clang-format on

// " 115200 8N1 RTS/CTS" from a kernel termios (or termios2) structure.
std::string lineSettings(std::span<const uint8_t> d, bool hasSpeedFields)
{
    if (d.size() < offsetof(struct termios, c_lflag)) return {};
    const uint32_t iflag = u32At(d, offsetof(struct termios, c_iflag));
    const uint32_t cflag = u32At(d, offsetof(struct termios, c_cflag));
    std::string out;
    const uint32_t code = cflag & CBAUD;
    long long baud = -1;
    if (code == BOTHER && hasSpeedFields && d.size() >= sizeof(struct termios2))
        baud = u32At(d, offsetof(struct termios2, c_ospeed));
    for (const Speed& s : kSpeeds)
        if (s.code == code) baud = s.baud;
    out += baud >= 0 ? " " + std::to_string(baud) : " ?";
    const char bits = "5678"[(cflag & CSIZE) / CS6];
    char parity = 'N';
    if (cflag & PARENB) {
        if (cflag & CMSPAR)
            parity = (cflag & PARODD) ? 'M' : 'S';
        else
            parity = (cflag & PARODD) ? 'O' : 'E';
    }
    out += ' ';
    out += bits;
    out += parity;
    out += (cflag & CSTOPB) ? '2' : '1';
    if (cflag & CRTSCTS) out += " RTS/CTS";
    if (iflag & (IXON | IXOFF)) out += " XON/XOFF";
    return out;
}

std::string modemLines(uint32_t v)
{
    static const Named lines[] = {
        {TIOCM_DTR, "DTR"}, {TIOCM_RTS, "RTS"}, {TIOCM_CTS, "CTS"}, {TIOCM_DSR, "DSR"}, {TIOCM_CAR, "CD"},
        {TIOCM_RNG, "RI"},  {TIOCM_LE, "LE"},   {TIOCM_ST, "ST"},   {TIOCM_SR, "SR"},
    };
    std::string out;
    for (const Named& l : lines)
        if (v & l.command) {
            out += ' ';
            out += l.name;
        }
    return out.empty() ? " none" : out;
}

std::string hexByte(std::span<const uint8_t> d)
{
    if (d.empty()) return {};
    char buf[8];
    std::snprintf(buf, sizeof buf, " 0x%02X", d[0]);
    return buf;
}

} // namespace

const std::vector<IoctlCopy>& ioctlCopyTable()
{
    static const std::vector<IoctlCopy> table = {
        {TCSETS, sizeof(struct termios), 0},
        {TCSETSW, sizeof(struct termios), 0},
        {TCSETSF, sizeof(struct termios), 0},
        {TCGETS, 0, sizeof(struct termios)},
        {TCSETS2, sizeof(struct termios2), 0},
        {TCSETSW2, sizeof(struct termios2), 0},
        {TCSETSF2, sizeof(struct termios2), 0},
        {TCGETS2, 0, sizeof(struct termios2)},
        {TIOCMSET, 4, 0},
        {TIOCMBIS, 4, 0},
        {TIOCMBIC, 4, 0},
        {TIOCMGET, 0, 4},
        {FIONREAD, 0, 4},
        {TIOCOUTQ, 0, 4},
        {PPWDATA, 1, 0},
        {PPWCONTROL, 1, 0},
        {PPRDATA, 0, 1},
        {PPRCONTROL, 0, 1},
        {PPRSTATUS, 0, 1},
        {PPSETMODE, 4, 0},
        {PPGETMODE, 0, 4},
        {PPDATADIR, 4, 0},
    };
    return table;
}

bool ioctlReturnsData(uint32_t command)
{
    for (const IoctlCopy& c : ioctlCopyTable())
        if (c.command == command) return c.outLen != 0;
    return false;
}

std::string describeIoctl(uint32_t command, uint64_t arg, std::span<const uint8_t> data)
{
    const char* name = nameOf(command);
    if (!name) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", command);
        return buf;
    }
    std::string out = name;
    switch (command) {
    case TCGETS:
    case TCSETS:
    case TCSETSW:
    case TCSETSF: return out + lineSettings(data, false);
    case TCGETS2:
    case TCSETS2:
    case TCSETSW2:
    case TCSETSF2: return out + lineSettings(data, true);
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: return data.size() >= 4 ? out + modemLines(u32At(data, 0)) : out;
    case FIONREAD:
    case TIOCOUTQ: return data.size() >= 4 ? out + " " + std::to_string(u32At(data, 0)) : out;
    case TCFLSH: {
        static const char* const what[] = {" TCIFLUSH", " TCOFLUSH", " TCIOFLUSH"};
        return arg < 3 ? out + what[arg] : out + " " + std::to_string(arg);
    }
    case TCXONC: {
        static const char* const what[] = {" TCOOFF", " TCOON", " TCIOFF", " TCION"};
        return arg < 4 ? out + what[arg] : out + " " + std::to_string(arg);
    }
    case TCSBRK:
        // tcdrain() is TCSBRK with a non-zero argument; only 0 sends a break.
        return out + (arg == 0 ? " break" : " drain");
    case TCSBRKP: return out + " break";
    case TIOCSBRK: return out + " break on";
    case TIOCCBRK: return out + " break off";
    case PPWDATA:
    case PPWCONTROL:
    case PPRDATA:
    case PPRCONTROL:
    case PPRSTATUS: return out + hexByte(data);
    default: return out;
    }
}

} // namespace quillon::capture
