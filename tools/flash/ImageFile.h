// The image of a run, opened once and read by every transfer of it. The file is opened for
// reading without any lock, so that any number of runs, and any number of devices in one run, read
// the same image side by side; its size is taken once, at the open, and every transfer sends that
// many bytes (a file cut short meanwhile ends the transfers with "Stream read error").
// - POSIX: open(2), and pread(2) at each position.
// - Windows: CreateFileA shared for reading only, so that nobody can write, cut or delete the
//   file while it is open here; ReadFile at an offset.
// A file rewritten or replaced meanwhile is told by CheckUnchanged, which the upload asks before
// the block that ends the image and at its end.
#pragma once

#include "base/Streams.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TImageFile {
public:
    // EFOpenError "Cannot open file NAME: REASON", the reason one of "no such file", "permission
    // denied", "it is a folder", "not a regular file" or the system's text; on Windows also "no
    // such folder" and "in use by another program" (a program that holds it without sharing, as
    // the window does during its upload, or one that is writing it).
    explicit TImageFile(const std::string& fileName);
    ~TImageFile();
    TImageFile(const TImageFile&) = delete;
    TImageFile& operator=(const TImageFile&) = delete;

    const std::string& Name() const { return FName; }
    int64_t Size() const { return FSize; }
    // Reads at a position, without moving anything shared: safe from any number of threads at
    // once. The count read; 0 at the end or on a failure.
    size_t ReadAt(void* buffer, size_t count, int64_t position) const;
    // The whole file, for small files such as a host list; EFOpenError when it holds more than
    // limit bytes or cannot be read.
    std::string ReadAll(size_t limit) const;
    // EFileChanged when the file was rewritten or replaced since it was opened.
    void CheckUnchanged() const { CheckFileUnchanged(FName, FHandle, FOpened); }

private:
    // "Cannot open file NAME: REASON".
    static EFOpenError OpenFailure(const std::string& fileName, const std::string& reason);
    // Refuses a name that no file can have: empty, or with a NUL character (the system would
    // open the file named by the part before it).
    static void RefuseUnusableName(const std::string& fileName);

    std::string FName;
    // The file descriptor, or on Windows the file's handle.
    intptr_t FHandle = -1;
    int64_t FSize = 0;
    TFileState FOpened;
};

// One transfer's reading of the image: a position and a read-ahead buffer of its own.
class TImageReader : public TReadAheadStream {
public:
    explicit TImageReader(const TImageFile& image) : FImage(image) {}

    int64_t Size() const override { return FImage.Size(); }
    void CheckUnchanged() const override { FImage.CheckUnchanged(); }

private:
    size_t ReadAt(void* buffer, size_t count, int64_t position) override {
        return FImage.ReadAt(buffer, count, position);
    }

    const TImageFile& FImage;
};
