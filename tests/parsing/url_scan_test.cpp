// Unit tests of ScanServerUrl: the two URL forms, their scanf rules and their capacities.
#include "client/url_scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace
{

struct GScanned
{
    bool bMatch = false;
    std::string sHost;
    int nPort = 0;
    std::string sPath;
};

GScanned Scan(const char* szUrl)
{
    char szHost[URL_TEXT_BYTES];
    char szPath[URL_TEXT_BYTES];
    std::memset(szHost, 0, sizeof szHost);
    std::memset(szPath, 0, sizeof szPath);
    GScanned scanned;
    scanned.nPort = -12345;
    scanned.bMatch = ScanServerUrl(szUrl, szHost, scanned.nPort, szPath);
    scanned.sHost = szHost;
    scanned.sPath = szPath;
    return scanned;
}

void ExpectMatch(const char* szUrl, const char* szHost, int nPort, const char* szPath)
{
    SCOPED_TRACE(szUrl);
    GScanned scanned = Scan(szUrl);
    EXPECT_TRUE(scanned.bMatch);
    EXPECT_EQ(szHost, scanned.sHost);
    EXPECT_EQ(nPort, scanned.nPort);
    EXPECT_EQ(szPath, scanned.sPath);
}

void ExpectNoMatch(const char* szUrl)
{
    SCOPED_TRACE(szUrl == nullptr ? "(null)" : szUrl);
    EXPECT_FALSE(Scan(szUrl).bMatch);
}

}   // namespace

TEST(UrlScanTest, DottedAddressWithPortAndPath)
{
    ExpectMatch("http://10.0.0.5:8000/", "10.0.0.5", 8000, "/");
}

TEST(UrlScanTest, HostWithoutPortGetsPort80)
{
    ExpectMatch("http://cachehost/", "cachehost", 80, "/");
    ExpectMatch("http://cachehost/cache", "cachehost", 80, "/cache");
}

TEST(UrlScanTest, UrlWithoutPathIsInvalid)
{
    ExpectNoMatch("http://cachehost:8000");
    ExpectNoMatch("http://cachehost");
    ExpectNoMatch("http://");
}

TEST(UrlScanTest, OtherSchemesAndCasesAreInvalid)
{
    ExpectNoMatch("HTTP://cachehost/");
    ExpectNoMatch("Http://cachehost/");
    ExpectNoMatch("https://cachehost/");
    ExpectNoMatch("ftp://cachehost/");
    ExpectNoMatch("http:/cachehost/");
    ExpectNoMatch(" http://cachehost/");
}

TEST(UrlScanTest, EmptyAndNullUrlsAreInvalid)
{
    ExpectNoMatch("");
    ExpectNoMatch(nullptr);
}

TEST(UrlScanTest, FirstColonAnywhereEndsTheHost)
{
    ExpectMatch("http://cachehost/a:8080/x", "cachehost/a", 8080, "/x");
}

TEST(UrlScanTest, PortIsReturnedAsScanned)
{
    ExpectMatch("http://cachehost:70000/", "cachehost", 70000, "/");
    ExpectMatch("http://cachehost:-1/", "cachehost", -1, "/");
    ExpectMatch("http://cachehost:+80/", "cachehost", 80, "/");
    ExpectMatch("http://cachehost:0/", "cachehost", 0, "/");
    ExpectMatch("http://cachehost:0080/", "cachehost", 80, "/");
}

TEST(UrlScanTest, PortOutsideIntWrapsModulo2To32)
{
    ExpectMatch("http://h:2147483647/", "h", INT_MAX, "/");
    ExpectMatch("http://h:2147483648/", "h", INT_MIN, "/");
    ExpectMatch("http://h:-2147483648/", "h", INT_MIN, "/");
    ExpectMatch("http://h:-2147483649/", "h", INT_MAX, "/");
    ExpectMatch("http://h:4294967296/", "h", 0, "/");
    ExpectMatch("http://h:4294967297/", "h", 1, "/");
    ExpectMatch("http://h:4294967376/", "h", 80, "/");
    ExpectMatch("http://h:99999999999999999999999999/", "h", -469762049, "/");
}

TEST(UrlScanTest, PortSkipsWhiteSpaceBeforeItsSign)
{
    ExpectMatch("http://h: \t\n\v\f\r8000/", "h", 8000, "/");
    ExpectMatch("http://h: -1/", "h", -1, "/");
}

TEST(UrlScanTest, PortWithoutDigitsLeavesItToTheSecondForm)
{
    ExpectMatch("http://h:abc/x", "h:abc", 80, "/x");
    ExpectMatch("http://h:-/x", "h:-", 80, "/x");
    ExpectMatch("http://h:+ 1/x", "h:+ 1", 80, "/x");
    ExpectMatch("http://h:- 1/x", "h:- 1", 80, "/x");
    ExpectMatch("http://h:/x", "h:", 80, "/x");
}

TEST(UrlScanTest, FirstFormPathIsWhateverFollowsTheDigits)
{
    ExpectMatch("http://h:8000x", "h", 8000, "x");
    ExpectMatch("http://h:8000?q=1", "h", 8000, "?q=1");
    ExpectMatch("http://h:8000 /cache", "h", 8000, "/cache");
    ExpectMatch("http://h:8000\t\r\n/cache", "h", 8000, "/cache");
}

TEST(UrlScanTest, PathEndsAtWhiteSpace)
{
    ExpectMatch("http://h/a b", "h", 80, "/a");
    ExpectMatch("http://h/a\tb", "h", 80, "/a");
    ExpectMatch("http://h:81/a\nb", "h", 81, "/a");
    ExpectMatch("http://h/a\vb", "h", 80, "/a");
}

TEST(UrlScanTest, WhiteSpaceInsteadOfPathIsInvalid)
{
    ExpectNoMatch("http://h:80 ");
    ExpectNoMatch("http://h:80\t\r\n");
}

TEST(UrlScanTest, SecondFormHostMayHoldSpacesAndColons)
{
    ExpectMatch("http://my host/x", "my host", 80, "/x");
    ExpectMatch("http://:80/", ":80", 80, "/");
    ExpectMatch("http:// /x", " ", 80, "/x");
}

TEST(UrlScanTest, EmptyHostIsInvalid)
{
    ExpectNoMatch("http:///x");
    ExpectNoMatch("http:///");
}

TEST(UrlScanTest, NonAsciiBytesAreOrdinaryText)
{
    ExpectMatch("http://h\xC3\xA9te:81/\xE2\x82\xAC", "h\xC3\xA9te", 81, "/\xE2\x82\xAC");
    ExpectMatch("http://h/\xA0x", "h", 80, "/\xA0x");
}

TEST(UrlScanTest, HostOf126BytesFitsAnd127DoesNot)
{
    std::string sHost126(126, 'h');
    std::string sHost127(127, 'h');
    ExpectMatch(("http://" + sHost126 + ":8000/").c_str(), sHost126.c_str(), 8000, "/");
    ExpectMatch(("http://" + sHost126 + "/").c_str(), sHost126.c_str(), 80, "/");
    ExpectNoMatch(("http://" + sHost127 + ":8000/").c_str());
    ExpectNoMatch(("http://" + sHost127 + "/").c_str());
    ExpectNoMatch(("http://" + std::string(500, 'h') + "/").c_str());
}

TEST(UrlScanTest, PathOf126BytesFitsAnd127DoesNot)
{
    std::string sPath126 = "/" + std::string(125, 'p');
    std::string sPath127 = "/" + std::string(126, 'p');
    ExpectMatch(("http://h:8000" + sPath126).c_str(), "h", 8000, sPath126.c_str());
    ExpectMatch(("http://h" + sPath126).c_str(), "h", 80, sPath126.c_str());
    ExpectNoMatch(("http://h:8000" + sPath127).c_str());
    ExpectNoMatch(("http://h" + sPath127).c_str());
    ExpectMatch(("http://h" + sPath126 + " " + sPath127).c_str(), "h", 80, sPath126.c_str());
}

TEST(UrlScanTest, OverlongFirstFormHostFallsBackToSecondForm)
{
    // Without the capacity the first form would match with a host full of spaces.
    std::string sUrl = "http://h/a" + std::string(130, ' ') + ":80/x";
    ExpectMatch(sUrl.c_str(), "h", 80, "/a");
}

TEST(UrlScanTest, OverlongTokenNeverWritesPastItsBuffer)
{
    char szHost[URL_TEXT_BYTES];
    char szPath[URL_TEXT_BYTES];
    std::memset(szHost, '#', sizeof szHost);
    std::memset(szPath, '#', sizeof szPath);
    int nPort = 0;
    std::string sUrl = "http://" + std::string(300, 'h') + ":1/" + std::string(300, 'p');
    EXPECT_FALSE(ScanServerUrl(sUrl.c_str(), szHost, nPort, szPath));
    EXPECT_EQ('#', szHost[URL_TEXT_BYTES - 1]);
    EXPECT_EQ('#', szPath[URL_TEXT_BYTES - 1]);

    std::memset(szHost, '#', sizeof szHost);
    std::memset(szPath, '#', sizeof szPath);
    sUrl = "http://h:1/" + std::string(300, 'p');
    EXPECT_FALSE(ScanServerUrl(sUrl.c_str(), szHost, nPort, szPath));
    EXPECT_EQ('#', szHost[URL_TEXT_BYTES - 1]);
    EXPECT_EQ('#', szPath[URL_TEXT_BYTES - 1]);
}
