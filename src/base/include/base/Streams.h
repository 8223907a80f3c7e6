// Seekable byte streams: the sources of an upload.
#pragma once

#include "base/Exception.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A stream yielded fewer bytes than were asked for: "Stream read error".
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A file could not be opened: "Cannot open file %s".
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A file changed while it was read: "The file %s changed while it was being sent".
class EFileChanged : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TStream : public TObject {
public:
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t position) = 0;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* buffer, size_t count) = 0;

    // Reads exactly count bytes or raises EReadError.
    void ReadBuffer(void* buffer, size_t count);

    // Raises EFileChanged when what the stream reads from has changed since it was opened, so
    // that bytes read before and after the change would not make one whole. Nothing for a stream
    // that cannot change under it (the default).
    virtual void CheckUnchanged() const {}
};

// A stream over bytes held in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : FBytes(std::move(bytes)) {}

    int64_t Size() const override { return static_cast<int64_t>(FBytes.size()); }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;

    const std::string& Bytes() const { return FBytes; }
    std::string& Bytes() { return FBytes; }

private:
    std::string FBytes;
    int64_t FPosition = 0;
};

// Reads up to count bytes of the open file handle (a descriptor, or a Windows HANDLE held as an
// integer) at the position, without moving any shared file position, so that readers on several
// threads may use one handle; 0 at the end or on a failure, which the caller turns into
// EReadError. One call reads at most 4 GiB less one byte on Windows; callers ask again.
size_t ReadFileAt(intptr_t handle, void* buffer, size_t count, int64_t position);

// What tells a file's contents apart over time: its size and its modification and change times
// (a file rewritten in place, by a copy over it, changes them), and which file it is (one
// replaced under its name, a new file renamed over it, is another).
struct TFileState {
    int64_t Size = 0;
    int64_t Modified = 0; // in the system's own units
    int64_t Changed = 0;
    uint64_t Device = 0;
    uint64_t File = 0;
    friend bool operator==(const TFileState&, const TFileState&) = default;
};
// The state of an open file handle; false when it cannot be read.
bool FileStateOf(intptr_t handle, TFileState& state);
// The state of the file that the name leads to now; false when it leads to none, or when the
// system cannot tell without opening it (on Windows, where a file that is open without sharing
// cannot be replaced anyway).
bool NamedFileStateOf(const std::string& fileName, TFileState& state);
// Raises EFileChanged for fileName unless the open handle's state is still opened (a file deleted
// meanwhile has another change time too), and the name, where the system tells, still leads to
// that file.
void CheckFileUnchanged(const std::string& fileName, intptr_t handle, const TFileState& opened);

// A stream read at positions of its own choosing (ReadAt), such as a file. Small reads are served
// from a read-ahead buffer: an upload reads one block of a few hundred bytes per datagram, and a
// system call for each would cost about as much as the datagram's own.
class TReadAheadStream : public TStream {
public:
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;

    // Bytes read in one go for reads shorter than this.
    static constexpr size_t ReadAheadSize = size_t{64} * 1024;

protected:
    // Reads at the position, without the buffer; 0 at the end or on a failure.
    virtual size_t ReadAt(void* buffer, size_t count, int64_t position) = 0;

private:
    int64_t FPosition = 0;
    // The bytes from FBufferStart on, FBufferLength of them; allocated by the first small read,
    // so that the stream's memory stays the same whatever the file's size.
    std::unique_ptr<char[]> FBuffer;
    int64_t FBufferStart = 0;
    size_t FBufferLength = 0;
};

// A regular file opened for reading only, and only if it exists, exclusively: on POSIX systems
// the file is held under an exclusive advisory lock while the stream is open, so a second
// exclusive opener (another upload, another tool that locks it) is refused while this one reads
// it; on Windows it is opened without sharing, so no other opener at all gets in.
class TFileStream : public TReadAheadStream {
public:
    // Raises EFOpenError "Cannot open file %s" for an empty name or one with a NUL character, a
    // missing file, a folder or anything else that is not a regular file, an unreadable file, or
    // one held by another opener.
    explicit TFileStream(const std::string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // The size when the file was opened.
    int64_t Size() const override { return FSize; }
    // EFileChanged when the file's size, modification or change time differ from the open, or
    // the name leads to another file now.
    void CheckUnchanged() const override;

private:
    // Raises the open error for a name that no file can have: empty, or with a NUL character
    // (the system would open the file named by the part before it).
    static void RefuseUnusableName(const std::string& fileName);
    static EFOpenError OpenFailure(const std::string& fileName);
    size_t ReadAt(void* buffer, size_t count, int64_t position) override;

    // The file descriptor, or on Windows the file's handle; -1 (INVALID_HANDLE_VALUE) for none.
    intptr_t FHandle = -1;
    int64_t FSize = 0;
    std::string FName;
    TFileState FOpened;
};
