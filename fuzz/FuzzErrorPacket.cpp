// An error packet always becomes one exception of the TFTP family: the class its code names and
// the text up to the first NUL as the whole message.
#include "FuzzCheck.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTPBase.h"

#include <string>
#include <string_view>
#include <typeinfo>

namespace {

// The class an error code names (RFC 1350 section 5, RFC 2347 for 8).
const std::type_info& ClassOf(uint16_t code) {
    switch (code) {
    case 1:
        return typeid(EIdTFTPFileNotFound);
    case 2:
        return typeid(EIdTFTPAccessViolation);
    case 3:
        return typeid(EIdTFTPAllocationExceeded);
    case 4:
        return typeid(EIdTFTPIllegalOperation);
    case 5:
        return typeid(EIdTFTPUnknownTransferID);
    case 6:
        return typeid(EIdTFTPFileAlreadyExists);
    case 7:
        return typeid(EIdTFTPNoSuchUser);
    case 8:
        return typeid(EIdTFTPOptionNegotiationFailed);
    default:
        return typeid(EIdTFTPException);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view packet(reinterpret_cast<const char*>(data), size);
    // A short packet's missing code bytes read as zero; only bytes inside the packet count.
    const uint16_t code =
        static_cast<uint16_t>((size > 2 ? data[2] << 8 : 0) | (size > 3 ? data[3] : 0));
    std::string text;
    for (size_t i = 4; i < size && data[i] != 0; ++i) {
        text += static_cast<char>(data[i]);
    }
    bool raised = false;
    try {
        RaiseErrorPacket(packet);
    } catch (const EIdTFTPException& e) {
        raised = true;
        FUZZ_CHECK(typeid(e) == ClassOf(code), "the class follows from the error code");
        FUZZ_CHECK(e.Message() == text, "the message is the packet's text, nothing added");
    } catch (...) {
        FUZZ_CHECK(false, "only the TFTP family is raised");
    }
    FUZZ_CHECK(raised, "an error packet always raises");
    return 0;
}
