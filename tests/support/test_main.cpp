// Entry of every Windows test program: an apartment thread with Winsock started.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int nResult = RUN_ALL_TESTS();
    CoUninitialize();
    WSACleanup();
    return nResult;
}
