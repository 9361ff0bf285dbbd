// cmd_segfile.cpp - `utiltool segfile`: list, read, add or replace the
// segments of a segmented file.
#include "Command.h"

#include <UtilIfile.h>

#include <PortMsg.h>
#include <PortStream.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* kUsage =
    "  segfile ls FILE                  name, offset, size, type and data of every\n"
    "                                   segment, after the header's versions\n"
    "  segfile get FILE SEGMENT         the segment's bytes on standard output\n"
    "  segfile put FILE SEGMENT INPUT   adds or replaces one segment with INPUT's\n"
    "                                   bytes (INPUT '-' is standard input)\n"
    "  segfile new FILE                 an empty segmented file\n"
    "Exit status 1 for a file that cannot be read or written.\n";

// Turns the library's reports into one line on standard error each.
struct Reports {
    Reports()
        : previous(Port::setMsgSink([](const Port::Message& m) {
              std::fprintf(stderr, "utiltool segfile: %s", m.text.c_str());
          })) {}
    ~Reports() { Port::setMsgSink(previous); }
    Port::MsgSink previous;
};

char* name(const std::string& s) { return const_cast<char*>(s.c_str()); }

struct Segment {
    std::string name;
    int type;
    int data;
    std::string bytes;
};

// Every segment of a loaded file, in directory order.
bool readAll(UT_IFILE& f, std::vector<Segment>& out) {
    UT_IFILESEGINFO info;
    for (int i = 0; f.getseginfo(i, info); ++i) {
        Segment seg{info.getName(), info.gettype(), info.getdata(), std::string(info.getsize(), '\0')};
        Port::Stream* s = f.getdataseg(name(seg.name), seg.type, nullptr);
        if (!s || !s->readbytes(seg.bytes.data(), seg.bytes.size())) {
            std::fprintf(stderr, "utiltool segfile: cannot read segment '%s'\n", seg.name.c_str());
            return false;
        }
        f.enddataseg();
        out.push_back(std::move(seg));
    }
    return true;
}

int list(UT_IFILE& f) {
    std::printf("version %d.%d, data version %d.%d, %d segments\n", f.getversion(), f.getrevision(),
                f.getdataversion(), f.getdatarevision(), f.getnumsegs());
    UT_IFILESEGINFO info;
    for (int i = 0; f.getseginfo(i, info); ++i) {
        Port::Stream* s = f.getdataseg(name(info.getName()), -1, nullptr);
        long long offset = s ? static_cast<long long>(s->getfoffset()) : -1;
        f.enddataseg();
        std::printf("%-24s offset %-10lld size %-10d type %-6d data %d\n", info.getname(), offset,
                    info.getsize(), info.gettype(), info.getdata());
    }
    return 0;
}

int get(UT_IFILE& f, const std::string& segment) {
    UT_IFILESEGINFO info;
    Port::Stream* s = f.getdataseg(name(segment), -1, &info);
    if (!s) {
        std::fprintf(stderr, "utiltool segfile: no segment '%s'\n", segment.c_str());
        return 1;
    }
    std::string bytes(static_cast<std::size_t>(info.getsize()), '\0');
    if (!s->readbytes(bytes.data(), bytes.size())) {
        std::fprintf(stderr, "utiltool segfile: segment '%s' is cut short\n", segment.c_str());
        return 1;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

bool slurp(const std::string& path, std::string& out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin.rdbuf()), {});
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// Writes the segments beside FILE, then puts them in its place: a failure
// never leaves FILE half written.
int rewrite(const std::string& file, const std::vector<Segment>& segs, unsigned char dv, unsigned char dr) {
    UtilTool::Replacement replacement(file);
    if (replacement.path().empty())
        return 1;
    UT_IFILE out;
    if (!out.create(replacement.path().c_str()))
        return 1;
    out.setdataversion(dv);
    out.setdatarevision(dr);
    bool ok = true;
    for (const auto& seg : segs) {
        Port::Stream* s = out.putdataseg(name(seg.name), seg.type, seg.data);
        ok = s && s->writebytes(seg.bytes.data(), seg.bytes.size()) && out.enddataseg() && ok;
    }
    ok = out.unload() && ok;
    if (!ok) {
        std::fprintf(stderr, "utiltool segfile: writing '%s' failed\n", file.c_str());
        return 1;
    }
    return replacement.commit("segfile") ? 0 : 1;
}

int put(const std::string& file, const std::string& segment, const std::string& input) {
    std::string bytes;
    if (!slurp(input, bytes)) {
        std::fprintf(stderr, "utiltool segfile: cannot read '%s'\n", input.c_str());
        return 1;
    }
    std::vector<Segment> segs;
    UT_IFILE in;
    if (!in.load(file.c_str()) || !readAll(in, segs))
        return 1;
    unsigned char dv = in.getdataversion(), dr = in.getdatarevision();
    in.unload();
    bool replaced = false;
    for (auto& seg : segs)
        if (seg.name == segment) {
            seg.bytes = bytes;
            replaced = true;
        }
    if (!replaced)
        segs.push_back({segment, 0, 0, bytes});
    return rewrite(file, segs, dv, dr);
}

int run(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {}, {}, 4))
        return 2;
    const auto& p = opts.positional;
    const std::string what = p.empty() ? "" : p[0];
    const std::size_t need = what == "ls" || what == "new" ? 2 : what == "get" ? 3 : what == "put" ? 4 : 0;
    if (need == 0 || p.size() != need) {
        std::fprintf(stderr, "usage:\n%s", kUsage);
        return 2;
    }
    Reports reports;
    try {
        if (what == "new")
            return rewrite(p[1], {}, 0, 0);
        if (what == "put")
            return put(p[1], p[2], p[3]);
        UT_IFILE f;
        if (!f.load(p[1].c_str()))
            return 1;
        int status = what == "ls" ? list(f) : get(f, p[2]);
        f.unload();
        return status;
    } catch (const Port::FatalError&) {
        return 1;  // reported above
    }
}

UtilTool::Registration reg({"segfile", "list, read or change a segmented file", kUsage, run});

}  // namespace
