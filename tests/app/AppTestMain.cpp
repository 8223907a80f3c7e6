// One application object for the whole test program, on the off-screen platform unless another
// one is asked for. No test starts the real ARP tool: a press of bt1 in any test starts nothing
// unless the test puts a launcher of its own in place.
#include "app/Application.h"
#include "run/RunSeams.h"

#include <gtest/gtest.h>

namespace {

class TNoLauncher : public TProcessLauncher {
public:
    void Start(const std::string&, const std::vector<std::string>&) override {}
};

} // namespace

int main(int argc, char** argv) {
    TNoLauncher noLauncher;
    const TSeamOverride<TProcessLauncher> inUse(ProcessLauncher, noLauncher);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
