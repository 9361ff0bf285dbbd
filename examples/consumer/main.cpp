// A user's program: a fixed-size pool and a report sink of its own.
#include <UtilFstmem.h>
#include <UtilTyped.h>

#include <PortMsg.h>

#include <cstdio>
#include <string>

int main() {
    std::string report;
    Port::setMsgSink([&](const Port::Message& m) { report += m.text; });
    UT_FASTMEM pool(24, 100, "consumer");
    void* p = pool.getnewptr();
    pool.qrn_free(p);
    pool.dump();
    struct Net {
        std::string name;
    };
    Net clk{"clk"};
    Util::TextTree<Net, &Net::name> nets;
    nets.insert(&clk);
    bool ok = report.find("UT_FASTMEM::classname  = consumer") != std::string::npos && nets.find("clk") == &clk;
    std::printf("consumer: %s\n", ok ? "ok" : "failed");
    return ok ? 0 : 1;
}
