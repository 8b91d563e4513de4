// Cookie making: the kernel's random bits, printed as hexadecimal digits.
#include "cookie.h"

#include <cstdint>
#include <random>
#include <sys/random.h>

std::string MakeCookie()
{
    // A cookie is all that separates one client's values from another's, so
    // it must not be guessable: the bits come from the kernel, not a seeded PRNG.
    uint8_t nBytes[16];
    if (getrandom(nBytes, sizeof(nBytes), 0) != static_cast<ssize_t>(sizeof(nBytes)))
    {
        std::random_device device;
        for (uint8_t& n : nBytes)
            n = static_cast<uint8_t>(device());
    }
    static const char s_szDigits[] = "0123456789abcdef";
    std::string szCookie(32, '0');
    for (size_t i = 0; i < sizeof(nBytes); ++i)
    {
        szCookie[2 * i] = s_szDigits[nBytes[i] >> 4];
        szCookie[2 * i + 1] = s_szDigits[nBytes[i] & 0x0F];
    }
    return szCookie;
}
