// printf-style formatting of message texts ("Cannot open file %s", "Socket Error # %d\r\n%s").
#pragma once

#include <string>

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
