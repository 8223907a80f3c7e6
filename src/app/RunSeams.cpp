#include "app/RunSeams.h"

#include "app/Application.h"
#include "base/Streams.h"
#include "net/IdStack.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {

TDetachedLauncher SystemLauncher;
TProcessLauncher* CurrentLauncher = &SystemLauncher;

} // namespace

void TDetachedLauncher::Start(const std::string& program,
                              const std::vector<std::string>& arguments) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(arguments.size()));
    for (const std::string& argument : arguments) {
        list.append(ToQString(argument));
    }
    QProcess process;
    process.setProgram(ToQString(program));
    process.setArguments(list);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // Detached: the program is started by an intermediate child that ends at once and is reaped
    // here, so the program itself belongs to the system and leaves no zombie behind. The result
    // is not looked at: a failed start changes nothing for the caller.
    (void)process.startDetached();
}

namespace RunSeams {

TProcessLauncher& Launcher() {
    return *CurrentLauncher;
}

void SetLauncher(TProcessLauncher* launcher) {
    CurrentLauncher = launcher != nullptr ? launcher : &SystemLauncher;
}

std::string FindProgram(const std::string& name) {
    return FromQString(QStandardPaths::findExecutable(ToQString(name)));
}

TFileProbe& FileProbe() {
    static TFileProbe probe = ProbeImageSize;
    return probe;
}

} // namespace RunSeams

uint32_t ProbeImageSize(const std::string& fileName) {
    try {
        const TFileStream file(fileName);
        return static_cast<uint32_t>(static_cast<uint64_t>(file.Size()) & 0xFFFFFFFFu);
    } catch (const EFOpenError&) {
        return 0xFFFFFFFFu;
    }
}

std::vector<std::string> ArpArguments(const std::string& address) {
    return {"neigh", "flush", "to", address};
}

void StartArpCommand(const std::string& address) {
    if (GlobalStack == nullptr || !GlobalStack->IsDottedQuad(address)) {
        return;
    }
    TIdInAddrBytes bytes{};
    GlobalStack->TextToInAddrBytes(address, bytes);
    const std::string plain = GlobalStack->InAddrToText(bytes);
    const std::string program = RunSeams::FindProgram(ArpProgram);
    if (program.empty()) {
        return;
    }
    RunSeams::Launcher().Start(program, ArpArguments(plain));
}
