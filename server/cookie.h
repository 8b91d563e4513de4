// Fresh cookies for clients that come without one.
#pragma once

#include <string>

// 32 lower-case hexadecimal digits from 128 random bits.
std::string MakeCookie();
