#include "StationLog.h"

TSeam<TLogFileCalls> LogFileCalls(&SystemLogFileCalls);

TStationLog::TStationLog(const std::string& path) : FPath(path), FCalls(LogFileCalls()) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        throw Failure("not a usable file name");
    }
    std::string error;
    FFile = FCalls.Open(path, error);
    if (FFile == -1) {
        throw Failure(error);
    }
    FLineOpen = !FCalls.EndsLine(FFile);
    if (!FCalls.Reserve(FFile, LogReserveBytes, error)) {
        FCalls.Close(FFile);
        throw Failure(error);
    }
}

TStationLog::~TStationLog() {
    FCalls.Close(FFile);
}

void TStationLog::Append(const std::string& record) {
    const std::string bytes = (FLineOpen ? "\n" : "") + record;
    std::string error;
    if (!FCalls.Append(FFile, bytes, error) || !FCalls.Sync(FFile, error)) {
        // Whatever part of it reached the file ends inside a line.
        FLineOpen = true;
        throw Failure(error);
    }
    FLineOpen = false;
    // The room taken by the record is reserved again. Failing that is no failure yet: what is
    // reserved still holds the next records, and a record that cannot be written is told then.
    FCalls.Reserve(FFile, LogReserveBytes, error);
}

EStationLogError TStationLog::Failure(const std::string& reason) const {
    return EStationLogError("cannot write the log " + FPath + ": " + reason);
}
