// UtilDebug.cpp - construct/destruct tracing.
#include "UtilReport.h"

#include <UtilFrame.h>

#include <PortEnv.h>
#include <PortString.h>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilDebug.cpp", "1.0"};

constexpr const char* kDefaultName = "MyClass";
constexpr const char* kVerboseVariable = "KORVEN_STRUCTOR_VERBOSE";
// From this many constructs on, destruct lines carry both counts.
constexpr unsigned kCountedDestructFrom = 50;

constexpr const char* kMsgConstruct = "Info : Construct %s object(%p).\n";
constexpr const char* kMsgDestruct = "Info : Destruct %s object(%p).\n";
constexpr const char* kMsgDestructCounted = "Info : Destruct (%d/%d) %s object(%p).\n";

}  // namespace

namespace Util {

class StatsFunctionObjectImp {
public:
    explicit StatsFunctionObjectImp(const char* className)
        : name(className), verbose(Port_Env::GetEnv(kVerboseVariable) != nullptr) {}
    virtual ~StatsFunctionObjectImp() = default;

    void record(void* object, bool constructing) {
        if (constructing) {
            ++constructs;
            if (verbose)
                UTIL_REPORT().status(kMsgConstruct, name.c_str(), object);
            return;
        }
        ++destructs;
        if (!verbose)
            return;
        if (constructs < kCountedDestructFrom)
            UTIL_REPORT().status(kMsgDestruct, name.c_str(), object);
        else
            UTIL_REPORT().status(kMsgDestructCounted, static_cast<int>(destructs), static_cast<int>(constructs),
                                 name.c_str(), object);
    }

    Port::StringBase<char> name;  // the class counted
    uint32_t constructs = 0;      // constructions seen
    uint32_t destructs = 0;       // destructions seen
    bool verbose;                 // each construction and destruction is reported as it happens
};

StatsFunctionObject::StatsFunctionObject() : imp_(new StatsFunctionObjectImp(kDefaultName)) {}

StatsFunctionObject::StatsFunctionObject(const char* name) : imp_(new StatsFunctionObjectImp(name)) {}

StatsFunctionObject::StatsFunctionObject(const StatsFunctionObject& other)
    : imp_(new StatsFunctionObjectImp(*other.imp_)) {}

StatsFunctionObject& StatsFunctionObject::operator=(const StatsFunctionObject& other) {
    *imp_ = *other.imp_;
    return *this;
}

StatsFunctionObject::~StatsFunctionObject() { delete imp_; }

void StatsFunctionObject::operator()(void* object, bool constructing) { imp_->record(object, constructing); }

const char* StatsFunctionObject::getName() const { return imp_->name.c_str(); }
unsigned StatsFunctionObject::getConstructCount() const { return imp_->constructs; }
unsigned StatsFunctionObject::getDestructCount() const { return imp_->destructs; }
bool StatsFunctionObject::isVerbose() const { return imp_->verbose; }

}  // namespace Util
