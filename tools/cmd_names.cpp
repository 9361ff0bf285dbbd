// cmd_names.cpp - `utiltool names`: list the names of a saved name-cache
// image, or save an image of given names.
#include "Command.h"
#include "NameImageFile.h"

#include <UtilCname.h>
#include <UtilPtrfile.h>

#include <PortMsg.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The longest name an image here may hold: the cache's default limit, which
// is also what `names FILE` reads back.
constexpr std::size_t kLongestName = UT_NCH_CACHE::kDefaultMaxLen;

// Copies a file to standard output; false when it cannot be read or written.
bool copyToStdout(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buf[1 << 16];
    bool ok = true;
    for (std::size_t n; ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0;)
        ok = std::fwrite(buf, 1, n, stdout) == n;
    ok = !std::ferror(in) && ok;
    std::fclose(in);
    return ok;
}

int save(const std::string& file, const std::vector<std::string>& names) {
    for (const auto& n : names)
        if (n.size() > kLongestName)
            return UtilTool::refuse("names", "a name of %zu characters: names are at most %zu", n.size(), kLongestName);
    UT_NCH_CACHE cache;
    for (const auto& n : names)
        cache.add(n.c_str(), 1);
    // Standard output gets a copy of a finished image, so a failure never
    // leaves half of one there.
    const bool toStdout = file == "-";
    std::string scratch = "/tmp/utiltool-names-" + std::to_string(::getpid());
    UtilTool::Replacement replacement(toStdout ? scratch : file);
    if (replacement.path().empty())
        return UtilTool::refuse("names", "%s", replacement.failure().c_str());
    UT_PTRFILE out(Port::Stream::WRITE);
    if (!out.open(replacement.path().c_str()))
        return UtilTool::refuse("names", "%s: cannot write: %s", file.c_str(), std::strerror(errno));
    cache.write(&out, 0);
    if (!out.close())
        return UtilTool::refuse("names", "%s: writing failed: %s", file.c_str(), std::strerror(errno));
    if (toStdout) {
        bool ok = copyToStdout(replacement.path());
        return ok ? UtilTool::kDone : UtilTool::refuse("names", "cannot write to standard output");
    }
    if (!replacement.commit())
        return UtilTool::refuse("names", "%s", replacement.failure().c_str());
    std::printf("saved %u names to %s\n", cache.get_count(), file.c_str());
    return UtilTool::kDone;
}

int list(const std::string& file, bool countOnly) {
    const std::string path = file == "-" ? "/dev/stdin" : file;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return UtilTool::refuse("names", "%s: is a directory", file.c_str());
    UT_PTRFILE in(Port::Stream::READ);
    errno = 0;
    if (!in.open(path.c_str()))
        return UtilTool::refuse("names", "%s: %s", file.c_str(), std::strerror(errno ? errno : ENOENT));
    UT_NCH_CACHE cache(0, UtilTool::kLongestListedName);
    int64_t end;
    try {
        // Catches the fatal report of a failed read instead of printing it twice.
        Port::ScopedMsgSink quiet([](const Port::Message&) {});
        end = UtilTool::readWholeImage(in, cache);
    } catch (const Port::FatalError& e) {
        std::string why = e.getMessage();
        while (!why.empty() && why.back() == '\n')
            why.pop_back();
        return UtilTool::refuse("names", "%s: not a name-cache image: %s", file.c_str(), why.c_str());
    }
    if (end >= 0)
        return UtilTool::refuse("names", "%s: not a name-cache image: bytes follow it at byte %lld", file.c_str(),
                                static_cast<long long>(end));
    if (countOnly) {
        std::printf("%u\n", cache.get_count());
        return UtilTool::kDone;
    }
    cache.traverse(
        [](void** slot, void*) {
            auto* name = static_cast<UT_NCH_NAME*>(*slot);
            std::printf("%d\t%s\n", name->getRefCount(), name->get_name());
        },
        nullptr, UT_BTR_TREE::INORDER);
    return UtilTool::kDone;
}

struct Options {
    bool count = false;
    std::string save;
    std::vector<std::string> args;
};

UtilTool::Action setup(CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.add_flag("--count", o->count, "print only the number of names");
    CLI::Option* save =
        app.add_option("--save", o->save, "save an image of the NAMEs to this file ('-': standard output)");
    app.add_option("args", o->args, "FILE to list ('-': standard input), or with --save the NAMEs");
    app.footer(
        "names FILE lists \"COUNT<TAB>NAME\" per name in ascending order; names --save FILE NAME...\n"
        "gives a name listed k times k references. Names are at most 2047 characters.\n"
        "Exit status 1 for a file that is not a name-cache image.");
    return [o, save] {
        if (save->count() > 0) {
            if (o->count) {
                std::fprintf(stderr, "utiltool names: --count lists; it does not go with --save\n");
                return UtilTool::kUsage;
            }
            return ::save(o->save, o->args);
        }
        if (o->args.size() != 1) {
            std::fprintf(stderr, "utiltool names: give one FILE to list (see utiltool names --help)\n");
            return UtilTool::kUsage;
        }
        return list(o->args[0], o->count);
    };
}

UtilTool::Registration reg({"names", "list or save a name-cache image", setup});

}  // namespace
