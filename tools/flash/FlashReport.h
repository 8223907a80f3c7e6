// How a run of zeb40-flash ends: each device's outcome, the messages of its failures, the summary
// lines and the JSON document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr int ExitSent = 0;
inline constexpr int ExitRefused = 1; // EIdTFTPException family: time-out, device error packet
inline constexpr int ExitFailed = 2;  // file, name resolution, socket, conversion
inline constexpr int ExitInterrupted = 130; // 128 + SIGINT, as a shell reports it

struct TDeviceReport {
    std::string Label; // as written on the command line or in the list
    std::string Host;  // without the port
    int32_t Port = 69;
    std::string Address; // the address the host resolved to; empty when it did not
    // A station's unit: its MAC ("" when not known); none for a device of a run of devices.
    std::optional<std::string> Mac;
    int Status = ExitFailed;
    int64_t Bytes = 0; // of the image, put into data blocks
    double Seconds = 0;
    std::string Message; // raw: the device's text is escaped where it is shown
    bool Sent() const { return Status == ExitSent; }
};

// RFC 1350 section 5, and code 8 of RFC 2347: "Disk full or allocation exceeded" for 3.
const char* ErrorCodeMeaning(int32_t code);

// What a device's error packet says: its text, or when it has none, its code and the code's
// meaning. code -1 (no error packet: "Timeout", a refused option) gives the text as it is.
std::string DeviceErrorMessage(const std::string& text, int32_t code);

// "cannot resolve 'HOST': REASON (Socket Error # CODE)" for a failed look-up; socketText is the
// stack's text of the code, used for codes that are not the look-up's own.
std::string ResolveFailureMessage(const std::string& host, int32_t code,
                                  const std::string& socketText);

// The exit status of the run: the highest of the devices' (so 130 when one was interrupted).
int RunStatus(const std::vector<TDeviceReport>& devices);

// "127.0.0.2  sent    1048576 bytes  0.42 s" and "127.0.0.3  failed  1024 bytes  0.10 s  TEXT",
// the label padded to width, the message escaped for a terminal.
std::string DeviceSummaryLine(const TDeviceReport& device, size_t width);
// "total: 3 devices, 2 sent, 1 failed, 2098176 bytes in 0.45 s (4.4 MiB/s)".
std::string TotalLine(const std::vector<TDeviceReport>& devices, double seconds);
// The same as one JSON document (RFC 8259), ending with a line break; a station's units carry
// their "mac" as well.
std::string JsonReport(const std::vector<TDeviceReport>& devices, const std::string& file,
                       int64_t size, double seconds, int status);
