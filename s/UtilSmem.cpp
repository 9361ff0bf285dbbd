// UtilSmem.cpp - private and shared pools of small elements.
#include "UtilReport.h"
#include "UtilStatics.h"

#include <UtilSmem.h>

#include <PortEnv.h>

#include <cstdio>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilSmem.cpp", "1.0"};
// An element above the largest shared size, and a chunk the heap refused.
constexpr int kFatalTooLarge = -1;
constexpr int kFatalNoMemory = 1;

constexpr int kAlign = 8;
constexpr std::size_t kLink = 8;        // a chunk's link to the next recorded chunk
constexpr int kLargestElement = 65528;  // the largest multiple of 8 in 16 bits

constexpr const char* kMsgTooLarge = "SMALLMEM: elementsize too large.\n";
constexpr const char* kMsgBadShape = "SMALLMEM: element size %d and block %d make no pool.\n";
constexpr const char* kMsgShared = "SMEM: Shared %d requested by %s\n";
constexpr const char* kMsgSharedUnknown = "SMEM: Shared %d requested by Unknown client\n";
constexpr const char* kMsgEmpty = "SMEM %-20s  (EMPTY)\n";
constexpr const char* kMsgStats = "SMEM %-20s  (SZ:%d BLK:%d ACT:%d FREE:%d TOTM:%d) (REL:%s  RELZ:%s)\n";
constexpr const char* kMsgNotErased = "SML::FAILED TO ERASE %p\n";
constexpr const char* kMsgSetEntry = "SML::   %p\n";
constexpr const char* kFmtPrivateName = "SMEM:%d";
constexpr const char* kFmtSharedName = "SMMEMMGR:%d";

bool poolsOn = false;  // pooling is on for the process (read once at load)
bool statsOn = false;  // every shared request is logged (read once at load)

void*& linkOf(void* p) { return *static_cast<void**>(p); }

const char* yesNo(bool b) { return b ? "TRUE" : "FALSE"; }

}  // namespace

namespace Util::Statics {

void readSmallmemSwitches() {
    poolsOn = Port_Env::GetEnv("QRN_MEMPOOL_ON") || Port_Env::GetEnv("QRN_SM_MEMPOOL_ON");
    statsOn = Port_Env::GetEnv("QRN_UT_SM_STATS") != nullptr;
}

bool smallmemPoolsOn() { return poolsOn; }
bool smallmemStatsOn() { return statsOn; }

}  // namespace Util::Statics

// ---- pools -----------------------------------------------------------------

UT_SM_SMALLMEM_IMP::UT_SM_SMALLMEM_IMP(int size, unsigned char release, bool releaseAtZero, const char* poolname,
                                       int blk)
    : UT_STATOBJ(nullptr), rel(release != 0), relz(release != 0 && releaseAtZero), elemsize(0), blksize(0), active(0),
      freelist(nullptr), chunks(nullptr) {
    if (size > kLargestElement)
        UTIL_REPORT().fatal(kFatalTooLarge, "%s", kMsgTooLarge);
    const int rounded = (size + kAlign - 1) / kAlign * kAlign;
    // Each chunk must hold at least one element.
    if (size < 1 || blk < -1 || (blk != -1 && blk < rounded))
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgBadShape, size, blk);
    const uint32_t budget = blk == -1 ? kDefaultBudget : static_cast<uint32_t>(blk);
    elemsize = static_cast<uint16_t>(rounded);
    blksize = elemsize * (budget / elemsize) + static_cast<uint32_t>(kLink);
    name = poolname ? std::string(poolname) : Port::format(kFmtPrivateName, size);
    UT_SM_MNGR::getmemmngr()->addactivehandler(this);
}

UT_SM_SMALLMEM_IMP::~UT_SM_SMALLMEM_IMP() {
    if (statsOn)
        printstats();
    freechunks();
    UT_SM_MNGR::getmemmngr()->remactivehandler(this);
}

void* UT_SM_SMALLMEM_IMP::getmem() {
    if (!poolsOn)
        return qrn_malloc(elemsize);
    if (!freelist) {
        auto* chunk = static_cast<char*>(qrn_malloc(blksize));
        if (!chunk)
            UTIL_REPORT().fatal(kFatalNoMemory, "%s\n", Util::Frame::kMsgOutOfMemory);
        if (rel) {
            linkOf(chunk) = chunks;
            chunks = chunk;
        }
        // From the first element upward, each onto the front: the highest
        // address ends first in line.
        for (char* e = chunk + kLink; e + elemsize <= chunk + blksize; e += elemsize) {
            linkOf(e) = freelist;
            freelist = e;
        }
    }
    void* e = freelist;
    freelist = linkOf(e);
    ++active;
    return e;
}

void UT_SM_SMALLMEM_IMP::relmem(void* p) {
    if (!p)
        return;
    if (!poolsOn) {
        qrn_free(p);
        return;
    }
    linkOf(p) = freelist;
    freelist = p;
    if (--active == 0 && relz) {
        if (statsOn)
            printstats();
        freechunks();
    }
}

void UT_SM_SMALLMEM_IMP::freechunks() {
    while (chunks) {
        void* next = linkOf(chunks);
        qrn_free(chunks);
        chunks = next;
    }
    if (rel)
        freelist = nullptr;  // every free element lay in a recorded chunk
}

void UT_SM_SMALLMEM_IMP::releasememory(bool onlyifidle) {
    if (onlyifidle && (active != 0 || !chunks))
        return;
    // Elements still in use would be given back with their chunk: only a
    // pool with nothing in use can let its chunks go.
    if (active != 0)
        return;
    freechunks();
}

void UT_SM_SMALLMEM_IMP::printstats() const {
    int free = 0;
    for (void* p = freelist; p; p = linkOf(p))
        ++free;
    const int total = (active + free) * elemsize;
    if (total == 0)
        std::fprintf(stderr, kMsgEmpty, name.c_str());
    else
        std::fprintf(stderr, kMsgStats, name.c_str(), static_cast<int>(elemsize), static_cast<int>(blksize), active,
                     free, total, yesNo(rel), yesNo(relz));
}

// ---- handles ---------------------------------------------------------------

UT_SM_SMALLMEM::UT_SM_SMALLMEM(int size, unsigned char priv, const char* client, int blk) : imp(nullptr) {
    UT_SM_MNGR* mngr = UT_SM_MNGR::getmemmngr();
    if (priv) {
        imp = new UT_SM_SMALLMEM_IMP(size, 1, false, client, blk);
    } else {
        if (size > UT_SM_MNGR::kLargestShared)
            UTIL_REPORT().fatal(kFatalTooLarge, "%s", kMsgTooLarge);
        imp = mngr->getmemhandler(size);
        if (statsOn) {
            if (client)
                std::fprintf(stderr, kMsgShared, size, client);
            else
                std::fprintf(stderr, kMsgSharedUnknown, size);
        }
    }
    mngr->incnumimps();
}

UT_SM_SMALLMEM::UT_SM_SMALLMEM(int size, const char* client, int blk)
    : imp(new UT_SM_SMALLMEM_IMP(size, 1, true, client, blk)) {
    UT_SM_MNGR::getmemmngr()->incnumimps();
}

UT_SM_SMALLMEM::~UT_SM_SMALLMEM() {
    if (imp->rel)
        delete imp;
    UT_SM_MNGR::getmemmngr()->decnumimps();
}

void UT_SM_SMALLMEM::printstatsallpools() { UT_SM_MNGR::getmemmngr()->printstats(); }

// ---- manager ---------------------------------------------------------------

UT_SM_MNGR* UT_SM_MNGR::getmemmngr() {
    static UT_SM_MNGR* mngr = new UT_SM_MNGR;  // never destroyed
    return mngr;
}

UT_SM_SMALLMEM_IMP* UT_SM_MNGR::getmemhandler(int size) {
    if (size > kLargestShared)
        UTIL_REPORT().fatal(kFatalTooLarge, "%s", kMsgTooLarge);
    if (size < 1)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgBadShape, size, -1);
    const int c = (size + kAlign - 1) / kAlign - 1;
    std::lock_guard<std::recursive_mutex> hold(lock);
    if (!handlers[c]) {
        const int bytes = kAlign * (c + 1);
        handlers[c] = new UT_SM_SMALLMEM_IMP(bytes, 0, false, Port::format(kFmtSharedName, bytes).c_str(), -1);
    }
    return handlers[c];
}

void UT_SM_MNGR::addactivehandler(UT_SM_SMALLMEM_IMP* p) {
    std::lock_guard<std::recursive_mutex> hold(lock);
    active.insert(p);
}

void UT_SM_MNGR::remactivehandler(UT_SM_SMALLMEM_IMP* p) {
    std::lock_guard<std::recursive_mutex> hold(lock);
    if (active.erase(p))
        return;
    std::fprintf(stderr, kMsgNotErased, static_cast<void*>(p));
    for (UT_SM_SMALLMEM_IMP* q : active)
        std::fprintf(stderr, kMsgSetEntry, static_cast<void*>(q));
}

void UT_SM_MNGR::incnumimps() {
    std::lock_guard<std::recursive_mutex> hold(lock);
    ++numimps;
}

void UT_SM_MNGR::decnumimps() {
    std::lock_guard<std::recursive_mutex> hold(lock);
    if (--numimps == 0 && statsOn)
        printstats();
}

void UT_SM_MNGR::printstats() {
    std::lock_guard<std::recursive_mutex> hold(lock);
    for (const UT_SM_SMALLMEM_IMP* p : active)
        Util::Frame::guardedIf(p->get_guard(), [p] { p->printstats(); });
}
