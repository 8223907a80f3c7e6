// The neighbour (ARP) table on Windows: the IP helper library, loaded at run time from the system
// folder through the module-calls seam the socket library is loaded through, so that no program
// imports it and a test can put entry points of its own in place.
#include "StationNeighbours.h"

#include "StationReport.h"
#include "SystemTextWin32.h"
#include "net/IdStackWinsock.h"

#include <windows.h>

#include <iphlpapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using TGetIpNetTable = DWORD(WINAPI*)(PMIB_IPNETTABLE table, PULONG size, BOOL order);
using TDeleteIpNetEntry = DWORD(WINAPI*)(PMIB_IPNETROW row);

// MIB_IPNET_TYPE_DYNAMIC and MIB_IPNET_TYPE_STATIC: an entry Windows learnt, and one an
// administrator set (arp -s), which is kept.
constexpr DWORD DynamicEntry = 3;
constexpr DWORD StaticEntry = 4;

// The address in network byte order, as the table holds it, or false for anything but four
// decimal octets of 0 to 255.
bool NetworkOrder(const std::string& address, DWORD& value) {
    uint8_t bytes[4] = {};
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (at >= address.size() || address[at++] != '.')) {
            return false;
        }
        unsigned octet = 0;
        size_t digits = 0;
        for (; at < address.size() && address[at] >= '0' && address[at] <= '9' && digits < 3;
             ++at, ++digits) {
            octet = octet * 10 + unsigned(address[at] - '0');
        }
        if (digits == 0 || octet > 255) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(octet);
    }
    std::memcpy(&value, bytes, sizeof value);
    return at == address.size();
}

// "Access is denied (5)".
std::string ErrorText(DWORD code) {
    return SystemText(code) + " (" + std::to_string(code) + ")";
}

class TIpHelperNeighbours final : public TUnitNeighbours {
public:
    ~TIpHelperNeighbours() override {
        if (FLibrary != nullptr) {
            FCalls->Release(FLibrary);
        }
    }

    TClearResult Clear(const std::string& address) override {
        DWORD wanted = 0;
        if (!NetworkOrder(address, wanted)) {
            return {TClearResult::Refused, address + " is not a dotted quad"};
        }
        if (!Loaded()) {
            return {TClearResult::Unavailable, FMissing};
        }
        std::vector<MIB_IPNETROW> rows;
        if (const DWORD read = Table(rows); read != NO_ERROR) {
            return {TClearResult::Failed, "cannot read the ARP table: " + ErrorText(read)};
        }
        for (MIB_IPNETROW& row : rows) {
            if (row.dwAddr != wanted || row.dwType != DynamicEntry) {
                continue;
            }
            const DWORD deleted = FDelete(&row);
            if (deleted == ERROR_ACCESS_DENIED || deleted == ERROR_NOT_SUPPORTED) {
                return {TClearResult::Refused,
                        "Windows refuses to delete the ARP entry of " + address + ": " +
                            ErrorText(deleted) +
                            "; start the prompt with \"Run as administrator\""};
            }
            if (deleted != NO_ERROR && deleted != ERROR_NOT_FOUND) {
                return {TClearResult::Failed,
                        "cannot delete the ARP entry of " + address + ": " + ErrorText(deleted)};
            }
        }
        return {};
    }

    std::string HardwareAddress(const std::string& address) override {
        DWORD wanted = 0;
        std::vector<MIB_IPNETROW> rows;
        if (!NetworkOrder(address, wanted) || !Loaded() || Table(rows) != NO_ERROR) {
            return "";
        }
        for (const MIB_IPNETROW& row : rows) {
            if (row.dwAddr == wanted && (row.dwType == DynamicEntry || row.dwType == StaticEntry) &&
                row.dwPhysAddrLen <= MAXLEN_PHYSADDR) {
                std::string mac =
                    MacText(std::vector<uint8_t>(row.bPhysAddr, row.bPhysAddr + row.dwPhysAddrLen));
                if (!mac.empty()) {
                    return mac;
                }
            }
        }
        return "";
    }

    std::string ClearMethod() override {
        return Loaded() ? "by the IP helper's DeleteIpNetEntry (an elevated prompt only)"
                        : "not at all: " + FMissing;
    }

private:
    // Loads the library on first use, once.
    bool Loaded() {
        if (FTried) {
            return FLibrary != nullptr;
        }
        FTried = true;
        FCalls = &ModuleCalls();
        void* const library = FCalls->Load("iphlpapi.dll");
        if (library == nullptr) {
            FMissing = "the IP helper library iphlpapi.dll cannot be loaded";
            return false;
        }
        FGetTable = reinterpret_cast<TGetIpNetTable>(FCalls->EntryPoint(library, "GetIpNetTable"));
        FDelete =
            reinterpret_cast<TDeleteIpNetEntry>(FCalls->EntryPoint(library, "DeleteIpNetEntry"));
        if (FGetTable == nullptr || FDelete == nullptr) {
            FCalls->Release(library);
            FMissing = "the IP helper library lacks GetIpNetTable or DeleteIpNetEntry";
            return false;
        }
        FLibrary = library;
        return true;
    }

    // The rows of the ARP table; the table may grow between the two calls, so it is asked again.
    DWORD Table(std::vector<MIB_IPNETROW>& rows) {
        ULONG size = 0;
        DWORD result = FGetTable(nullptr, &size, FALSE);
        for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
            std::vector<char> buffer(size + sizeof(MIB_IPNETROW));
            size = static_cast<ULONG>(buffer.size());
            auto* const table = reinterpret_cast<PMIB_IPNETTABLE>(buffer.data());
            result = FGetTable(table, &size, FALSE);
            if (result == NO_ERROR) {
                const size_t fit =
                    (buffer.size() - offsetof(MIB_IPNETTABLE, table)) / sizeof(MIB_IPNETROW);
                const size_t count = std::min<size_t>(table->dwNumEntries, fit);
                rows.assign(table->table, table->table + count);
            }
        }
        // An empty table is told by ERROR_NO_DATA, or by a first answer that needs no buffer.
        if (result == ERROR_NO_DATA || (result == NO_ERROR && rows.empty())) {
            rows.clear();
            return NO_ERROR;
        }
        return result;
    }

    TIdModuleCalls* FCalls = nullptr;
    void* FLibrary = nullptr;
    bool FTried = false;
    std::string FMissing;
    TGetIpNetTable FGetTable = nullptr;
    TDeleteIpNetEntry FDelete = nullptr;
};

} // namespace

std::unique_ptr<TUnitNeighbours> NewPlatformNeighbours() {
    return std::make_unique<TIpHelperNeighbours>();
}

TUnitNeighbours& SystemUnitNeighbours() {
    static const std::unique_ptr<TUnitNeighbours> neighbours = NewPlatformNeighbours();
    return *neighbours;
}

TSeam<TUnitNeighbours> UnitNeighbours(&SystemUnitNeighbours);
