// What a flashing station knows of its units, as pure rules and texts: which unit may be taken,
// the line each one gets on the terminal, the record each one gets in the log, and the total.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// How one unit ended: the outcome of its upload and what identifies it.
struct TUnitRecord {
    int Number = 0;      // 1 for the first unit the station took
    std::string Time;    // UTC, when its upload ended: "2025-03-04T05:06:07.089Z"
    std::string Address; // the factory address it answered at
    int32_t Port = 69;
    std::string Mac;     // "02:00:00:00:00:01"; empty when the host's table did not tell
    std::string Image;   // the image's file name, as given
    std::string Sha256;  // of the bytes the unit got; of the image when it did not get them all
    int64_t Bytes = 0;   // put into data blocks
    double Seconds = 0;  // from its first answer to the end
    int Status = 2;      // the exit statuses of FlashReport.h
    std::string Message; // raw: escaped where it is shown
    std::string Version; // the tool's version line
    bool Sent() const { return Status == 0; }
};

// Six bytes as "02:00:00:00:00:01"; empty for any other length (nothing known), and for all
// zeros (an entry that holds no hardware address).
std::string MacText(const std::vector<uint8_t>& bytes);

// RFC 3339 in UTC, to the millisecond: "2025-03-04T05:06:07.089Z".
std::string UtcTime(std::chrono::system_clock::time_point when);

// The log's record of the unit: one JSON object (RFC 8259) on one line, ended by a line break.
std::string UnitLogRecord(const TUnitRecord& unit);

// "unit 3  02:00:00:00:00:03  sent    524289 bytes  0.41 s", a failure's message after it,
// escaped for a terminal; "unknown" for a MAC the table did not tell.
std::string UnitLine(const TUnitRecord& unit);

// "total: 10 units, 9 sent, 1 failed, 5242890 bytes in 312.40 s (1.7 units/min)": the sent units
// per minute of the station's time.
std::string StationTotalLine(const std::vector<TUnitRecord>& units, double seconds);

// Each unit once. A unit is known by its MAC: one the station flashed is not flashed again. A unit
// whose MAC the host's table does not tell (no ARP on the link, the table unreadable) is taken for
// the one flashed last until the address has been silent: a request that got no answer, or could
// not leave, means that unit was taken away.
class TUnitGate {
public:
    // The number of the unit as which the one that answered, of this MAC (empty: not known),
    // was flashed already; 0 when it was not.
    int FlashedAs(const std::string& mac) const;
    // The unit of that number was flashed.
    void Sent(const std::string& mac, int number);
    // A request went unanswered, or could not leave.
    void Silence() { FSilentSinceSent = true; }

private:
    std::map<std::string, int> FFlashed;
    int FLastSent = 0;
    bool FSilentSinceSent = false;
};
