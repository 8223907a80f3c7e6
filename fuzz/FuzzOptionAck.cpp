// Option acknowledgements: the block size is taken from the first option named "blksize" (any
// case), wherever it stands, with a value in 1..65464; anything else leaves the block size or
// fails cleanly.
#include "FuzzCheck.h"
#include "base/IntegerText.h"
#include "net/IdStack.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTP.h"

#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct TOption {
    std::string Name;
    std::string Value;
};

// The fields of the packet after the opcode, read as name and value pairs, each field up to a NUL
// or the end.
std::vector<TOption> Options(std::string_view packet) {
    std::vector<TOption> options;
    size_t i = 2;
    while (i < packet.size()) {
        TOption option;
        for (; i < packet.size() && packet[i] != '\0'; ++i) {
            option.Name += packet[i];
        }
        for (++i; i < packet.size() && packet[i] != '\0'; ++i) {
            option.Value += packet[i];
        }
        ++i;
        options.push_back(std::move(option));
    }
    return options;
}

bool IsBlockSizeName(const std::string& name) {
    if (name.size() != 7) {
        return false;
    }
    for (size_t i = 0; i < 7; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != "blksize"[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The component creates the process's stack with the first network component; one for the
    // whole run, so that no socket service is started per input.
    static const std::unique_ptr<TIdTrivialFTP> client = std::make_unique<TIdTrivialFTP>(nullptr);
    const std::string_view packet(reinterpret_cast<const char*>(data), size);
    TOption option;
    bool named = false;
    for (const TOption& o : Options(packet)) {
        if (IsBlockSizeName(o.Name)) {
            option = o;
            named = true;
            break;
        }
    }
    int32_t value = 0;
    const bool numeric = TryTextToInt(option.Value, value);

    int32_t blockSize = -7;
    try {
        const bool taken = OptionAckBlockSize(packet, blockSize);
        FUZZ_CHECK(taken == named, "the first option named blksize is taken");
        if (taken) {
            FUZZ_CHECK(numeric && blockSize == value, "the value is the option's integer");
            FUZZ_CHECK(blockSize >= TFTPMinBlockSize && blockSize <= TFTPMaxBlockSize,
                       "a taken block size lies in range");
        } else {
            FUZZ_CHECK(blockSize == -7, "an option not taken leaves the result untouched");
        }
    } catch (const EConvertError&) {
        FUZZ_CHECK(named && !numeric, "only a blksize value that is no integer fails to convert");
    } catch (const EIdTFTPOptionNegotiationFailed&) {
        FUZZ_CHECK(named && numeric && (value < TFTPMinBlockSize || value > TFTPMaxBlockSize),
                   "only an out-of-range block size is refused");
    }

    client->SetBufferSize(516);
    try {
        client->ApplyOptionAck(packet);
        const int32_t expected = named ? value + TFTPHeaderSize : 516;
        FUZZ_CHECK(client->BufferSize() == expected, "BufferSize is the taken block size + 4");
    } catch (const EConvertError&) {
        FUZZ_CHECK(client->BufferSize() == 516, "a failed option leaves BufferSize");
    } catch (const EIdTFTPOptionNegotiationFailed&) {
        FUZZ_CHECK(client->BufferSize() == 516, "a refused option leaves BufferSize");
    }
    return 0;
}
