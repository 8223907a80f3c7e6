#include "run/RunSeams.h"

#include "base/Streams.h"
#include "net/IdEndpoint.h"

namespace {

TProcessLauncher& SystemLauncher() {
    static TDetachedLauncher launcher;
    return launcher;
}

class TSystemProbe final : public TFileProbe {
public:
    uint32_t Size(const std::string& fileName) override { return ProbeImageSize(fileName); }
};

TFileProbe& SystemProbe() {
    static TSystemProbe probe;
    return probe;
}

} // namespace

TSeam<TProcessLauncher> ProcessLauncher(&SystemLauncher);
TSeam<TFileProbe> FileProbe(&SystemProbe);

uint32_t ProbeImageSize(const std::string& fileName) {
    try {
        const TFileStream file(fileName);
        return static_cast<uint32_t>(static_cast<uint64_t>(file.Size()) & 0xFFFFFFFFu);
    } catch (const EFOpenError&) {
        return 0xFFFFFFFFu;
    }
}

void StartArpCommand(TProcessLauncher& launcher, const std::string& address) {
    TIdInAddrBytes bytes{};
    if (!ParseDottedQuad(address, bytes)) {
        return;
    }
    if (const std::optional<TCommand> command = ArpCommand(DottedQuadText(bytes))) {
        launcher.Start(command->Program, command->Arguments);
    }
}
