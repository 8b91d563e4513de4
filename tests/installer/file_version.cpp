// Prints a file's version resource as the platform reads it: "<fixed version> <ProductVersion text>".
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    DWORD nHandle = 0;
    const DWORD nBytes = GetFileVersionInfoSizeW(argv[1], &nHandle);
    std::vector<BYTE> vecInfo(nBytes);
    if (nBytes == 0 || !GetFileVersionInfoW(argv[1], 0, nBytes, vecInfo.data()))
        return 1;
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nFixed = 0;
    wchar_t* szProduct = nullptr;
    UINT nProduct = 0;
    if (!VerQueryValueW(vecInfo.data(), L"\\", reinterpret_cast<void**>(&pFixed), &nFixed)
        || !VerQueryValueW(vecInfo.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                           reinterpret_cast<void**>(&szProduct), &nProduct))
        return 1;
    std::printf("%u.%u.%u.%u %ls\n", HIWORD(pFixed->dwFileVersionMS), LOWORD(pFixed->dwFileVersionMS),
                HIWORD(pFixed->dwFileVersionLS), LOWORD(pFixed->dwFileVersionLS), szProduct);
    return 0;
}
