// zeb40-arp-clear: the argument and refusal rules on their own, and the program on a real
// neighbour table, in a network namespace made for each run (root).
#include "ArpClearRules.h"
#include "ChildProcess.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(ArpClearRules, TakesOnlyAPlainDottedQuad) {
    const struct {
        const char* Text;
        std::optional<uint32_t> Address;
    } cases[] = {
        {"192.168.1.100", 0xC0A80164},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFF},
        {"10.0.0.7", 0x0A000007},
        {"1.20.199.250", 0x0114C7FA},
        {"010.0.0.7", std::nullopt}, // octal to some readers
        {"10.0.0.07", std::nullopt},
        {"10.0.0.00", std::nullopt},
        {"10.0.0.256", std::nullopt},
        {"10.0.0.1000", std::nullopt},
        {"10.0.0", std::nullopt},
        {"10.1", std::nullopt}, // 10.0.0.1 to some readers
        {"167772167", std::nullopt},
        {"10.0.0.7.1", std::nullopt},
        {"10.0.0.7.", std::nullopt},
        {".10.0.0.7", std::nullopt},
        {"10..0.7", std::nullopt},
        {" 10.0.0.7", std::nullopt},
        {"10.0.0.7 ", std::nullopt},
        {"10.0.0.7\n", std::nullopt},
        {"+10.0.0.7", std::nullopt},
        {"10.-0.0.7", std::nullopt},
        {"0x0A.0.0.7", std::nullopt},
        {"default", std::nullopt},
        {"10.0.0.0/8", std::nullopt},
        {"unit7.local", std::nullopt},
        {"", std::nullopt},
        {"\xd9\xa1.0.0.7", std::nullopt}, // a digit of another script
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParsePlainDottedQuad(c.Text), c.Address) << "'" << c.Text << "'";
        if (c.Address) {
            EXPECT_EQ(DottedQuad(*c.Address), c.Text);
        }
    }
}

TEST(ArpClearRules, RefusesWhatNoUnitAnswersForAndTheGatewaysOfRoutes) {
    const std::vector<TLocalAddress> locals = {
        {*ParsePlainDottedQuad("10.9.0.1"), 24, std::nullopt, 2},
        {*ParsePlainDottedQuad("10.20.0.1"), 16, *ParsePlainDottedQuad("10.20.0.127"), 3},
        {*ParsePlainDottedQuad("192.168.7.5"), 31, std::nullopt, 4}, // both ends are hosts
        {*ParsePlainDottedQuad("172.16.0.1"), 32, std::nullopt, 5},
    };
    const std::vector<uint32_t> gateways = {*ParsePlainDottedQuad("10.9.0.254"),
                                            *ParsePlainDottedQuad("192.0.2.1")};
    const struct {
        const char* Address;
        bool Refused;
    } cases[] = {
        {"0.0.0.0", true},          {"0.255.255.255", true},    {"1.0.0.0", false},
        {"126.255.255.255", false}, {"127.0.0.1", true},        {"127.255.255.255", true},
        {"128.0.0.0", false},       {"223.255.255.255", false}, {"224.0.0.0", true},
        {"239.255.255.255", true},  {"255.255.255.255", true},  {"10.9.0.1", true},
        {"10.9.0.0", true},         {"10.9.0.255", true},       {"10.9.0.2", false},
        {"10.9.0.254", true},       {"10.9.0.253", false},      {"10.9.1.0", false},
        {"10.20.0.0", true},        {"10.20.255.255", true},    {"10.20.0.127", true},
        {"192.168.7.5", true},      {"192.168.7.4", false},     {"172.16.0.1", true},
        {"172.16.0.0", false},      {"192.0.2.1", true},
    };
    for (const auto& c : cases) {
        const char* refusal = RefusalOf(*ParsePlainDottedQuad(c.Address), locals, gateways);
        EXPECT_EQ(refusal != nullptr, c.Refused) << c.Address << ": " << (refusal ? refusal : "");
    }
}

// One run of a command in a network namespace of its own, set up by arp-netns.sh.
struct TNamespaceRun {
    int Status = -1;
    std::string Table; // the neighbour table after the command, a sorted line per entry
    std::string Err;
};

class ArpClear : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "a network namespace of its own needs root";
        }
        for (const char* tool : {Unshare, Setpriv, Setcap}) {
            if (::access(tool, X_OK) != 0) {
                GTEST_SKIP() << tool << " is missing";
            }
        }
        Baseline = Run({"/bin/true"});
        if (Baseline.Status != 0) {
            GTEST_SKIP() << "no network namespace here: " << Baseline.Err;
        }
    }

    static TNamespaceRun Run(const std::vector<std::string>& command) {
        std::vector<std::string> arguments = {"--net", ZEB40_ARP_NETNS};
        arguments.insert(arguments.end(), command.begin(), command.end());
        const TRunResult result = RunProgram(Unshare, arguments, 20000);
        TNamespaceRun run;
        run.Err = result.Err;
        std::istringstream lines(result.Out);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("status ", 0) == 0) {
                run.Status = std::stoi(line.substr(7));
            } else {
                run.Table += line + "\n";
            }
        }
        return run;
    }

    // The table before any command, without the entries for the address.
    std::string BaselineWithout(const std::string& address) const {
        std::istringstream lines(Baseline.Table);
        std::string kept, line;
        while (std::getline(lines, line)) {
            if (line.rfind(address + " ", 0) != 0) {
                kept += line + "\n";
            }
        }
        return kept;
    }

    static std::vector<std::string> AsNobody(const std::string& program,
                                             const std::string& address) {
        return {Setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program, address};
    }

    static constexpr const char* Program = ZEB40_ARP_CLEAR_PROGRAM;
    static constexpr const char* Unshare = "/usr/bin/unshare";
    static constexpr const char* Setpriv = "/usr/bin/setpriv";
    static constexpr const char* Setcap = "/usr/sbin/setcap";
    TNamespaceRun Baseline;
};

TEST_F(ArpClear, RefusesBadArgumentsAndAddressesWithoutTouchingTheTable) {
    const struct {
        std::vector<std::string> Arguments;
        int Status;
    } cases[] = {
        {{}, acUsage},
        {{"10.9.0.7", "10.9.0.8"}, acUsage},
        {{"default"}, acUsage},
        {{"10.0.0.0/8"}, acUsage},
        {{"unit7.local"}, acUsage},
        {{"010.9.0.7"}, acUsage},
        {{"10.9.0.1"}, acRefused},   // the host's own
        {{"10.9.0.0"}, acRefused},   // its network
        {{"10.9.0.255"}, acRefused}, // its broadcast
        {{"10.9.0.254"}, acRefused}, // gateways: of a route, of a multipath route's nexthop,
        {{"10.9.0.253"}, acRefused}, // of a nexthop object, of a route in another table
        {{"10.9.0.251"}, acRefused},
        {{"10.9.0.250"}, acRefused},
        {{"255.255.255.255"}, acRefused},
        {{"127.0.0.1"}, acRefused},
        {{"10.9.0.9"}, acRefused},  // permanent: kept
        {{"10.9.0.10"}, acRefused}, // no-ARP: kept
    };
    for (const auto& c : cases) {
        std::vector<std::string> command = {Program};
        command.insert(command.end(), c.Arguments.begin(), c.Arguments.end());
        const TNamespaceRun run = Run(command);
        const std::string shown = c.Arguments.empty() ? "nothing" : c.Arguments.front();
        EXPECT_EQ(run.Status, c.Status) << shown << ": " << run.Err;
        EXPECT_EQ(run.Table, Baseline.Table) << shown;
        EXPECT_EQ(run.Err.rfind("zeb40-arp-clear: ", 0), 0u) << shown << ": " << run.Err;
        if (c.Status == acRefused) {
            EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        }
    }
}

TEST_F(ArpClear, DeletesTheDynamicEntryAlone) {
    for (const std::string address : {"10.9.0.7", "10.9.0.8", "10.9.0.77"}) {
        const TNamespaceRun run = Run({Program, address});
        EXPECT_EQ(run.Status, acCleared) << address << ": " << run.Err;
        EXPECT_EQ(run.Table, BaselineWithout(address)) << address;
        EXPECT_EQ(run.Err, "") << address;
    }
    ASSERT_NE(BaselineWithout("10.9.0.7"), Baseline.Table) << "the table has the entry";
}

// A user who is not root: refused without the capability, served with it (on a copy of the
// program, which the test may give it).
TEST_F(ArpClear, AUserNeedsTheCapabilityAndDeletesWithIt) {
    const TNamespaceRun refused = Run(AsNobody(Program, "10.9.0.7"));
    EXPECT_EQ(refused.Status, acNoPermission) << refused.Err;
    EXPECT_EQ(refused.Table, Baseline.Table);
    EXPECT_NE(refused.Err.find("zeb40-arp-clear: needs the capability cap_net_admin"),
              std::string::npos)
        << refused.Err;

    TScratch scratch;
    fs::permissions(scratch.Path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    const std::string copy = scratch / "zeb40-arp-clear";
    fs::copy_file(Program, copy);
    const TRunResult set = RunProgram(Setcap, {"cap_net_admin+ep", copy}, 10000);
    if (set.Status != 0) {
        GTEST_SKIP() << "setcap cannot give the capability here: " << set.Err;
    }
    const TNamespaceRun served = Run(AsNobody(copy, "10.9.0.7"));
    EXPECT_EQ(served.Status, acCleared) << served.Err;
    EXPECT_EQ(served.Table, BaselineWithout("10.9.0.7"));
}

} // namespace
