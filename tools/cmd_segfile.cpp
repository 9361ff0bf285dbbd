// cmd_segfile.cpp - `utiltool segfile`: list, read, add or replace the
// segments of a segmented file.
#include "Command.h"

#include <UtilIfile.h>

#include <PortMsg.h>
#include <PortStream.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

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
            UtilTool::refuse("segfile", "cannot read segment '%s'", seg.name.c_str());
            return false;
        }
        f.enddataseg();
        out.push_back(std::move(seg));
    }
    return true;
}

int list(UT_IFILE& f) {
    std::printf("version %d.%d, data version %d.%d, %d segments\n", f.getversion(), f.getrevision(), f.getdataversion(),
                f.getdatarevision(), f.getnumsegs());
    UT_IFILESEGINFO info;
    for (int i = 0; f.getseginfo(i, info); ++i) {
        Port::Stream* s = f.getdataseg(name(info.getName()), -1, nullptr);
        long long offset = s ? static_cast<long long>(s->getfoffset()) : -1;
        f.enddataseg();
        std::printf("%-24s offset %-10lld size %-10d type %-6d data %d\n", info.getname(), offset, info.getsize(),
                    info.gettype(), info.getdata());
    }
    return 0;
}

// The segment's bytes on standard output ("-" or no OUTPUT) or in OUTPUT,
// which is replaced whole or not at all.
int get(UT_IFILE& f, const std::string& segment, const std::string& output) {
    UT_IFILESEGINFO info;
    Port::Stream* s = f.getdataseg(name(segment), -1, &info);
    if (!s)
        return UtilTool::refuse("segfile get", "no segment '%s'", segment.c_str());
    std::string bytes(static_cast<std::size_t>(info.getsize()), '\0');
    if (!s->readbytes(bytes.data(), bytes.size()))
        return UtilTool::refuse("segfile get", "segment '%s' is cut short", segment.c_str());
    if (output.empty() || output == "-") {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        return UtilTool::kDone;  // the write is checked when the command ends
    }
    UtilTool::Replacement replacement(output);
    if (replacement.path().empty())
        return UtilTool::refuse("segfile get", "%s", replacement.failure().c_str());
    std::FILE* out = std::fopen(replacement.path().c_str(), "wb");
    bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = out && std::fclose(out) == 0 && ok;
    if (!ok)
        return UtilTool::refuse("segfile get", "%s: writing failed: %s", output.c_str(), std::strerror(errno));
    return replacement.commit() ? UtilTool::kDone
                                : UtilTool::refuse("segfile get", "%s", replacement.failure().c_str());
}

// Writes the segments beside FILE, then puts them in its place: a failure
// never leaves FILE half written.
int rewrite(const std::string& file, const std::vector<Segment>& segs, unsigned char dv, unsigned char dr) {
    UtilTool::Replacement replacement(file);
    if (replacement.path().empty())
        return UtilTool::refuse("segfile", "%s", replacement.failure().c_str());
    UT_IFILE out;
    if (!out.create(replacement.path().c_str())) {
        out.unload();
        return UtilTool::kRefused;
    }
    out.setdataversion(dv);
    out.setdatarevision(dr);
    bool ok = true;
    for (const auto& seg : segs) {
        Port::Stream* s = out.putdataseg(name(seg.name), seg.type, seg.data);
        ok = s && s->writebytes(seg.bytes.data(), seg.bytes.size()) && out.enddataseg() && ok;
    }
    ok = out.unload() && ok;
    if (!ok)
        return UtilTool::refuse("segfile", "writing '%s' failed", file.c_str());
    return replacement.commit() ? UtilTool::kDone : UtilTool::refuse("segfile", "%s", replacement.failure().c_str());
}

int put(const std::string& file, const std::string& segment, const std::string& input) {
    std::string bytes;
    if (!UtilTool::readInput(input, bytes))
        return UtilTool::refuse("segfile put", "%s: %s", input.c_str(), std::strerror(errno));
    std::vector<Segment> segs;
    UT_IFILE in;
    if (!in.load(file.c_str()) || !readAll(in, segs))
        return UtilTool::kRefused;
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

struct Options {
    std::string file;
    std::string segment;
    std::string data;  // put: the input; get: the output
    bool force = false;
};

// Runs `body` on the loaded file; reports of the library come out as the
// command's own.
template <class Body>
int withLoaded(const std::string& file, Body body) {
    UT_IFILE f;
    if (!f.load(file.c_str()))
        return UtilTool::kRefused;
    int status = body(f);
    f.unload();
    return status;
}

UtilTool::Action setup(CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.require_subcommand(1, 1);
    app.footer(
        "Exit status 1 for a file that cannot be read or written; a file is replaced whole or not\n"
        "at all.");
    CLI::App* ls = app.add_subcommand("ls", "name, offset, size, type and data of every segment");
    ls->add_option("FILE", o->file, "the segmented file")->required();
    CLI::App* get = app.add_subcommand("get", "a segment's bytes");
    get->add_option("FILE", o->file, "the segmented file")->required();
    get->add_option("SEGMENT", o->segment, "the segment's name")->required();
    get->add_option("OUTPUT", o->data, "where the bytes go (default and '-': standard output)");
    CLI::App* put = app.add_subcommand("put", "adds or replaces one segment");
    put->add_option("FILE", o->file, "the segmented file")->required();
    put->add_option("SEGMENT", o->segment, "the segment's name (at most 255 characters)")->required();
    put->add_option("INPUT", o->data, "the bytes ('-': standard input)")->required();
    CLI::App* made = app.add_subcommand("new", "an empty segmented file");
    made->add_option("FILE", o->file, "the file to make")->required();
    made->add_flag("--force", o->force, "replace a file that exists");
    return [o, ls, put, made] {
        if (made->parsed()) {
            if (!o->force && Port::File::exist(o->file.c_str()))
                return UtilTool::refuse("segfile new", "%s exists (--force replaces it)", o->file.c_str());
            return rewrite(o->file, {}, 0, 0);
        }
        if (put->parsed())
            return ::put(o->file, o->segment, o->data);
        if (ls->parsed())
            return withLoaded(o->file, [](UT_IFILE& f) { return list(f); });
        return withLoaded(o->file, [&](UT_IFILE& f) { return ::get(f, o->segment, o->data); });
    };
}

UtilTool::Registration reg({"segfile", "list, read or change a segmented file", setup});

}  // namespace
