// Reading the config file into the options, beneath the command line.
#include "config_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace
{

// Far beyond any real config file; a path that names something else by
// mistake (a log, a device) is refused instead of read whole.
constexpr size_t kMaxConfigBytes = 1024 * 1024;

std::string_view Trim(std::string_view sz)
{
    while (!sz.empty() && (sz.front() == ' ' || sz.front() == '\t'))
        sz.remove_prefix(1);
    while (!sz.empty() && (sz.back() == ' ' || sz.back() == '\t' || sz.back() == '\r'))
        sz.remove_suffix(1);
    return sz;
}

bool ReadWholeFile(const std::string& szFileName, std::string& strText, std::string& szError)
{
    FILE* pFile = fopen(szFileName.c_str(), "rb");
    struct stat st;
    if (pFile == nullptr || fstat(fileno(pFile), &st) != 0 || !S_ISREG(st.st_mode))
    {
        szError = "cannot read the config file " + szFileName
            + (pFile != nullptr ? std::string(" (not a file)") : std::string(": ") + strerror(errno));
        if (pFile != nullptr)
            fclose(pFile);
        return false;
    }
    // Read in pieces up to the bound rather than by the size that stat gave:
    // a file that grows meanwhile must not be read without end.
    char sz[4096];
    size_t n = 0;
    while ((n = fread(sz, 1, sizeof(sz), pFile)) > 0 && strText.size() <= kMaxConfigBytes)
        strText.append(sz, n);
    const bool bFailed = ferror(pFile) != 0;
    fclose(pFile);
    if (bFailed || strText.size() > kMaxConfigBytes)
    {
        szError = "cannot read the config file " + szFileName + (bFailed ? "" : " (over 1M)");
        return false;
    }
    return true;
}

} // namespace

bool ApplyConfigText(std::string_view szText, const std::string& szFileName, GServerOptions& options,
    std::string& szError)
{
    size_t nLine = 0;
    while (!szText.empty())
    {
        ++nLine;
        const size_t nEnd = szText.find('\n');
        const std::string_view szLine = Trim(szText.substr(0, nEnd));
        szText.remove_prefix(nEnd == std::string_view::npos ? szText.size() : nEnd + 1);
        if (szLine.empty() || szLine.front() == '#')
            continue;

        const std::string szWhere = szFileName + ":" + std::to_string(nLine) + ": ";
        const size_t nEquals = szLine.find('=');
        if (nEquals == std::string_view::npos)
        {
            szError = szWhere + "expected name = value";
            return false;
        }
        const std::string_view szName = Trim(szLine.substr(0, nEquals));
        const std::string_view szValue = Trim(szLine.substr(nEquals + 1));
        // Only options that set something belong in the file; the ones that
        // choose what the program does (or which file it reads) do not.
        if (szName.empty() || szName.front() == '-' || szName == "config" || szName == "check-config"
            || szName == "help" || szName == "version")
        {
            szError = szWhere + "unknown name " + std::string(szName);
            return false;
        }
        if (szValue.find('\0') != std::string_view::npos)
        {
            szError = szWhere + "a NUL byte in the value of " + std::string(szName);
            return false;
        }
        std::string szReason;
        if (!ApplyOption("--" + std::string(szName), szValue, options, szReason))
        {
            szError = szWhere + szReason;
            return false;
        }
    }
    return true;
}

EOptions LoadOptions(int argc, const char* const* argv, GServerOptions& options, std::string& szError)
{
    // The first pass only finds the file (and any mistake on the command
    // line); the second puts the command line over what the file set.
    GServerOptions fromCommandLine = options;
    const EOptions first = ParseOptions(argc, argv, fromCommandLine, szError);
    if (first != EOptions::Run && first != EOptions::Check)
        return first;
    EOptions parsed = first;
    if (fromCommandLine.szConfigFile.empty())
        options = fromCommandLine;
    else
    {
        std::string strText;
        if (!ReadWholeFile(fromCommandLine.szConfigFile, strText, szError)
            || !ApplyConfigText(strText, fromCommandLine.szConfigFile, options, szError))
            return EOptions::Error;
        parsed = ParseOptions(argc, argv, options, szError);
    }
    if (parsed != EOptions::Error && !FinishOptions(options, szError))
        return EOptions::Error;
    return parsed;
}
