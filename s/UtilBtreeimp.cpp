// UtilBtreeimp.cpp - balanced tree: the node pool and the dump lock.
#include "UtilStatics.h"

#include <UtilFstmem.h>

#include <memory>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilBtreeimp.cpp", "1.0"};

constexpr unsigned kNodeSize = 32;
constexpr unsigned kNodesPerBlock = 4000;

Util::Statics::Shared<Util::Statics::Btree> btreeShared;

}  // namespace

namespace Util::Statics {

const Btree& btree() {
    return once(btreeShared, kUnit, __LINE__, [] {
        std::unique_ptr<Port_ThrMutex> dump(new Port_ThrMutex), nodes(new Port_ThrMutex);
        std::unique_ptr<UT_FASTMEM> pool(new UT_FASTMEM(kNodeSize, kNodesPerBlock, "UT_BTR_NODE"));
        return new Btree{dump.release(), nodes.release(), pool.release()};
    });
}

}  // namespace Util::Statics
