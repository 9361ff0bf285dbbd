// cmd_names.cpp - `utiltool names`: list the names of a saved name-cache
// image, or save an image of given names.
#include "Command.h"

#include <UtilCname.h>
#include <UtilPtrfile.h>

#include <PortMsg.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace {

constexpr const char* kUsage =
    "  names FILE [--count]        list \"COUNT<TAB>NAME\" per name, ascending (or\n"
    "                              only the number of names, with --count)\n"
    "  names --save FILE NAME...   save an image of the names; a name given k\n"
    "                              times gets k references\n"
    "Exit status 1 when FILE is not a name-cache image.\n";

// Collects the fatal report of a failed read instead of printing it twice.
struct QuietReports {
    QuietReports() : previous(Port::setMsgSink([](const Port::Message&) {})) {}
    ~QuietReports() { Port::setMsgSink(previous); }
    Port::MsgSink previous;
};

int save(const std::vector<std::string>& args) {
    const std::string& file = args[0];
    UT_NCH_CACHE cache;
    for (std::size_t i = 1; i < args.size(); ++i)
        cache.add(args[i].c_str(), 1);
    UtilTool::Replacement replacement(file);
    if (replacement.path().empty())
        return 1;
    UT_PTRFILE out(Port::Stream::WRITE);
    if (!out.open(replacement.path().c_str())) {
        std::fprintf(stderr, "utiltool names: cannot write '%s'\n", file.c_str());
        return 1;
    }
    cache.write(&out, 0);
    if (!out.close()) {
        std::fprintf(stderr, "utiltool names: writing '%s' failed\n", file.c_str());
        return 1;
    }
    if (!replacement.commit("names"))
        return 1;
    std::printf("saved %u names to %s\n", cache.get_count(), file.c_str());
    return 0;
}

int list(const std::string& file, bool countOnly) {
    UT_PTRFILE in(Port::Stream::READ);
    if (!in.open(file.c_str())) {
        std::fprintf(stderr, "utiltool names: cannot open '%s'\n", file.c_str());
        return 1;
    }
    UT_NCH_CACHE cache(0, std::numeric_limits<unsigned int>::max() - 1);
    try {
        QuietReports quiet;
        cache.read(&in);
    } catch (const Port::FatalError& e) {
        std::fprintf(stderr, "utiltool names: '%s' is not a name-cache image: %s", file.c_str(),
                     e.getMessage().c_str());
        return 1;
    }
    int64_t end = in.getfoffset();
    in.readint8();
    if (!in.geterror()) {
        std::fprintf(stderr, "utiltool names: '%s' is not a name-cache image: bytes follow it at byte %lld\n",
                     file.c_str(), static_cast<long long>(end));
        return 1;
    }
    if (countOnly) {
        std::printf("%u\n", cache.get_count());
        return 0;
    }
    cache.traverse(
        [](void** slot, void*) {
            auto* name = static_cast<UT_NCH_NAME*>(*slot);
            std::printf("%d\t%s\n", name->getRefCount(), name->get_name());
        },
        nullptr, UT_BTR_TREE::INORDER);
    return 0;
}

int run(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {}, {"--count", "--save"}, std::numeric_limits<std::size_t>::max()))
        return 2;
    if (opts.positional.empty() || (!opts.has("--save") && opts.positional.size() != 1)) {
        std::fprintf(stderr, "usage:\n%s", kUsage);
        return 2;
    }
    return opts.has("--save") ? save(opts.positional) : list(opts.positional[0], opts.has("--count"));
}

UtilTool::Registration reg({"names", "list or save a name-cache image", kUsage, run});

}  // namespace
