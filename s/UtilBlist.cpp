// UtilBlist.cpp - block lists: their shared counters' locks and class-wide pools.
#include "UtilStatics.h"

#include <UtilFstmem.h>

#include <memory>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilBlist.cpp", "1.0"};

// Class-wide pools: element size and elements per block.
constexpr unsigned kListElemSize = 16;
constexpr unsigned kListsPerBlock = 3000;
constexpr unsigned kListPerBlock = 800;
constexpr unsigned kIterElemSize = 24;
constexpr unsigned kIterPerBlock = 5;

Util::Statics::Shared<Util::Statics::Blist> blistShared;

}  // namespace

namespace Util::Statics {

const Blist& blist() {
    return once(blistShared, kUnit, __LINE__, [] {
        using Lock = std::unique_ptr<Port_ThrMutex>;
        using Pool = std::unique_ptr<UT_FASTMEM>;
        Lock listMem(new Port_ThrMutex), listCount(new Port_ThrMutex),
            listIter(new Port_ThrMutex), listsMem(new Port_ThrMutex),
            listsCount(new Port_ThrMutex), listsIter(new Port_ThrMutex);
        Pool listPool(new UT_FASTMEM(kListElemSize, kListPerBlock, "UT_BLIST"));
        Pool listsPool(new UT_FASTMEM(kListElemSize, kListsPerBlock, "UT_BLISTS"));
        Pool listIterPool(new UT_FASTMEM(kIterElemSize, kIterPerBlock, "UT_BLIST_ITER"));
        Pool listsIterPool(new UT_FASTMEM(kIterElemSize, kIterPerBlock, "UT_BLISTS_ITER"));
        return new Blist{listMem.release(),      listCount.release(),    listIter.release(),
                         listsMem.release(),     listsCount.release(),   listsIter.release(),
                         listPool.release(),     listsPool.release(),    listIterPool.release(),
                         listsIterPool.release()};
    });
}

}  // namespace Util::Statics
