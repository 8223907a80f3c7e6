// Dotted quads: a text IsDottedQuad accepts converts without failing, and its address written
// back as text reads as the same address; a rejected text is not taken for an address by
// HostToAddress (it would go to the name lookup).
#include "FuzzCheck.h"
#include "net/IdStack.h"

#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TIdStack* const stack = TIdStack::MakeDefaultStack();
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!stack->IsDottedQuad(text)) {
        return 0;
    }
    TIdInAddr address;
    try {
        address = stack->TextToInAddr(text);
    } catch (...) {
        FUZZ_CHECK(false, "an accepted dotted quad converts");
    }
    TIdInAddrBytes bytes{};
    std::memcpy(bytes.data(), &address.S_addr, bytes.size());
    const std::string written = stack->InAddrToText(bytes);
    FUZZ_CHECK(stack->IsDottedQuad(written), "the written address is a dotted quad");
    const TIdInAddr again = stack->TextToInAddr(written);
    FUZZ_CHECK(again.S_addr == address.S_addr, "the written address reads as the same address");
    FUZZ_CHECK(stack->InAddrToText(bytes) == written, "writing is stable");
    // Each octet written is the plain decimal of its byte: no blanks, signs or prefixes survive.
    for (char c : written) {
        FUZZ_CHECK((c >= '0' && c <= '9') || c == '.', "written text holds digits and dots");
    }
    return 0;
}
