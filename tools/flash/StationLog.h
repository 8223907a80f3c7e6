// The station's log: one JSON record per unit appended to a file, each one written and put on the
// disk before the next unit is taken, so that a power cut loses at most the record in hand. A log
// that cannot take records is found out when the station starts, before any unit is flashed:
// room is reserved for the records to come, so that a file system that is full, where the file
// opens but the first write would fail, refuses the log at once.
// - POSIX: open(2) for appending (a file it creates is made durable by an fsync of its folder),
//   fallocate(2) with FALLOC_FL_KEEP_SIZE to reserve room beyond the end without changing the
//   file (where the file system has no fallocate, its free space is read by fstatvfs instead),
//   write(2) and fsync(2).
// - Windows: CreateFileA with append access, the drive's free space by GetDiskFreeSpaceExA,
//   WriteFile and FlushFileBuffers.
#pragma once

#include "base/Exception.h"
#include "base/Seam.h"

#include <cstdint>
#include <string>
#include <string_view>

// The room reserved ahead of the records: some two hundred of them.
inline constexpr int64_t LogReserveBytes = int64_t{64} * 1024;

// The file calls of the log, behind a seam that tests replace. Each failing call sets error to
// the reason ("No space left on device").
class TLogFileCalls {
public:
    virtual ~TLogFileCalls() = default;
    // Opens the file for appending, creating it when it is missing; -1 when it cannot, or when
    // it is not a regular file.
    virtual intptr_t Open(const std::string& path, std::string& error) = 0;
    // Whether the file is empty or its last byte is a line break.
    virtual bool EndsLine(intptr_t file) = 0;
    // Room for bytes more beyond the end of the file.
    virtual bool Reserve(intptr_t file, int64_t bytes, std::string& error) = 0;
    // Writes all the bytes at the end of the file.
    virtual bool Append(intptr_t file, std::string_view bytes, std::string& error) = 0;
    // Puts what was written on the disk.
    virtual bool Sync(intptr_t file, std::string& error) = 0;
    virtual void Close(intptr_t file) = 0;
};

TLogFileCalls& SystemLogFileCalls();
extern TSeam<TLogFileCalls> LogFileCalls;

class EStationLogError : public Exception {
public:
    using Exception::Exception;
};

class TStationLog {
public:
    // Opens the log and reserves room in it; EStationLogError "cannot write the log PATH: REASON".
    explicit TStationLog(const std::string& path);
    ~TStationLog();
    TStationLog(const TStationLog&) = delete;
    TStationLog& operator=(const TStationLog&) = delete;

    // Appends the record (a line) and puts it on the disk, on a line of its own even when the
    // file ended in the middle of one (a record cut short by a power cut); then reserves room
    // again. EStationLogError when the record cannot be written or put on the disk.
    void Append(const std::string& record);
    const std::string& Path() const { return FPath; }

private:
    EStationLogError Failure(const std::string& reason) const;

    std::string FPath;
    TLogFileCalls& FCalls;
    intptr_t FFile = -1;
    bool FLineOpen = false; // the file ends inside a line
};
