// zeb40-flash --station: a technician's bench, where unit after unit in recovery mode comes to
// the one factory address, each with its own MAC, until Ctrl-C (or --count units are sent).
//
// Before every request that waits for a unit, the host's neighbour entry for the address is
// cleared (StationNeighbours.h): a unit just flashed and still plugged in keeps the entry fresh,
// and once it is swapped the next requests would go to its MAC. The wait has no limit and rides
// out the link going down and up between units (a cable straight to each unit). The unit that
// answers is known by the MAC the host's table then holds: a unit this station flashed already
// gets an error packet instead of the image (RFC 1350 section 5), and the station waits for the
// next, the next request going at the normal interval, so that the unit is not flooded.
//
// Each unit gets one line on the terminal and, with a log, one record in it, written and put on
// the disk before the next unit is taken. A unit that failed is flashed again when it answers
// again, after the same interval, each try with its line and record.
#pragma once

#include "FlashOptions.h"
#include "FlashTerminal.h"

#include <atomic>
#include <ostream>

// Runs the station for options.Hosts[0] and options.File. The header lines, the progress and the
// messages go to err; each unit's line and the total line go to out, or to err with options.Json,
// where out takes the summary document of the units at the end. Returns the exit status of the
// last unit, ExitInterrupted when it took none; ExitFailed when the image, the address or the log
// cannot be used (the log checked before any unit is flashed), or when a record cannot be stored
// later, after which the station stops with that record on err.
int RunStation(const TFlashOptions& options, std::ostream& out, std::ostream& err,
               const TTerminal& terminal, const std::atomic<bool>& interrupted);
