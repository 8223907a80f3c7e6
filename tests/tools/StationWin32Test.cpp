// The station's neighbour table on Windows: the IP helper library's calls, replaced through the
// module-calls seam by a table of the test's, which records what is deleted.
#include "StationNeighbours.h"
#include "net/IdStackWinsock.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstring>
#include <vector>

namespace {

std::vector<MIB_IPNETROW> Rows;
std::vector<MIB_IPNETROW> Deleted;
DWORD DeleteAnswer = NO_ERROR;

// 10.77.0.N in network byte order, as the table holds it.
DWORD Address(BYTE last) {
    const BYTE bytes[4] = {10, 77, 0, last};
    DWORD value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

MIB_IPNETROW Row(DWORD index, BYTE address, DWORD type, std::vector<BYTE> mac) {
    MIB_IPNETROW row{};
    row.dwIndex = index;
    row.dwAddr = Address(address);
    row.dwType = type;
    row.dwPhysAddrLen = DWORD(mac.size());
    std::memcpy(row.bPhysAddr, mac.data(), mac.size());
    return row;
}

DWORD WINAPI FakeGetIpNetTable(PMIB_IPNETTABLE table, PULONG size, BOOL) {
    const ULONG needed =
        ULONG(offsetof(MIB_IPNETTABLE, table) + Rows.size() * sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = DWORD(Rows.size());
    std::memcpy(table->table, Rows.data(), Rows.size() * sizeof(MIB_IPNETROW));
    return NO_ERROR;
}

DWORD WINAPI FakeDeleteIpNetEntry(PMIB_IPNETROW row) {
    Deleted.push_back(*row);
    return DeleteAnswer;
}

int FakeLibrary;

class TFakeIpHelper : public TIdModuleCalls {
public:
    explicit TFakeIpHelper(TIdModuleCalls& system) : FSystem(system) {}
    bool Missing = false;
    void* Load(const char* name) override {
        if (std::string(name) != "iphlpapi.dll") {
            return FSystem.Load(name);
        }
        return Missing ? nullptr : &FakeLibrary;
    }
    void* EntryPoint(void* library, const char* name) override {
        if (library != &FakeLibrary) {
            return FSystem.EntryPoint(library, name);
        }
        if (std::string(name) == "GetIpNetTable") {
            return reinterpret_cast<void*>(&FakeGetIpNetTable);
        }
        return std::string(name) == "DeleteIpNetEntry"
                   ? reinterpret_cast<void*>(&FakeDeleteIpNetEntry)
                   : nullptr;
    }
    void Release(void* library) override {
        if (library != &FakeLibrary) {
            FSystem.Release(library);
        }
    }

private:
    TIdModuleCalls& FSystem;
};

TEST(StationNeighboursWin32, TheUnitsEntryAloneIsReadAndDeleted) {
    Rows = {Row(7, 9, 3, {2, 0, 0, 0, 0, 9}),
            Row(7, 2, 4, {2, 0, 0, 0, 0, 0x44}), // arp -s on another interface: kept
            Row(12, 2, 3, {2, 0, 0, 0, 0, 0x2b})};
    Deleted.clear();
    DeleteAnswer = NO_ERROR;
    TFakeIpHelper calls(SystemModuleCalls());
    const TSeamOverride<TIdModuleCalls> inUse(ModuleCalls, calls);
    const auto neighbours = NewPlatformNeighbours();

    EXPECT_EQ(neighbours->HardwareAddress("10.77.0.2"), "02:00:00:00:00:44");
    EXPECT_EQ(neighbours->HardwareAddress("10.77.0.3"), "");
    const TClearResult cleared = neighbours->Clear("10.77.0.2");
    EXPECT_EQ(cleared.Kind, TClearResult::Cleared) << cleared.Message;
    ASSERT_EQ(Deleted.size(), 1u);
    EXPECT_EQ(Deleted[0].dwAddr, Address(2));
    EXPECT_EQ(Deleted[0].dwIndex, 12u);

    // Without an elevated prompt.
    DeleteAnswer = ERROR_ACCESS_DENIED;
    const TClearResult refused = neighbours->Clear("10.77.0.2");
    EXPECT_EQ(refused.Kind, TClearResult::Refused);
    EXPECT_NE(refused.Message.find("Run as administrator"), std::string::npos) << refused.Message;
    EXPECT_EQ(neighbours->Clear("10.77.0.2x").Kind, TClearResult::Refused);
}

TEST(StationNeighboursWin32, WithoutTheLibraryNothingIsCleared) {
    TFakeIpHelper calls(SystemModuleCalls());
    calls.Missing = true;
    const TSeamOverride<TIdModuleCalls> inUse(ModuleCalls, calls);
    const auto neighbours = NewPlatformNeighbours();
    const TClearResult result = neighbours->Clear("10.77.0.2");
    EXPECT_EQ(result.Kind, TClearResult::Unavailable);
    EXPECT_NE(result.Message.find("iphlpapi.dll"), std::string::npos) << result.Message;
    EXPECT_EQ(neighbours->HardwareAddress("10.77.0.2"), "");
}

} // namespace
