// harbinet-server's entry point: options, limits, start line, run until a signal.
#include "config_file.h"
#include "open_file_limit.h"
#include "options.h"
#include "server.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <malloc.h>
#include <string>

int main(int argc, char** argv)
{
    GServerOptions options;
    std::string szError;
    const EOptions parsed = LoadOptions(argc, argv, options, szError);
    switch (parsed)
    {
    case EOptions::Help:
        fputs(UsageText(), stdout);
        return 0;
    case EOptions::Version:
        // HARBINET_VERSION comes from the project's one version number, as the DLL's does.
        printf("harbinet-server %s\n", HARBINET_VERSION);
        return 0;
    case EOptions::Error:
        fprintf(stderr, "harbinet-server: %s (see --help)\n", szError.c_str());
        return 2;
    case EOptions::Run:
    case EOptions::Check:
        break;
    }
    if (parsed == EOptions::Check)
    {
        printf("harbinet-server: the options are good\n");
        return 0;
    }

    // A peer that goes away mid-write must cost an error code, not the process.
    signal(SIGPIPE, SIG_IGN);
    // One heap for all threads: with one per thread, values stored by one
    // worker and evicted by another leave freed memory stranded in the first
    // heap, and resident memory drifts far above the limit.
    mallopt(M_ARENA_MAX, 1);

    const uint32_t nAllowed = RaiseOpenFileLimit(options.nMaxConnections);
    if (nAllowed < options.nMaxConnections)
    {
        fprintf(stderr,
            "harbinet-server: the open-file limit allows only %u connections; "
            "--max-connections lowered from %u (raise the hard limit with ulimit -Hn)\n",
            nAllowed, options.nMaxConnections);
        options.nMaxConnections = nAllowed;
    }

    try
    {
        GServer server(options);
        if (!server.Open(szError))
        {
            fprintf(stderr, "harbinet-server: %s\n", szError.c_str());
            return 1;
        }
        printf("%s\n", server.Describe().c_str());
        fflush(stdout);
        server.Run();
    }
    catch (const std::exception& e)
    {
        fprintf(stderr, "harbinet-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
